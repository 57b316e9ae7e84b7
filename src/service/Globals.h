// The process-wide values every part of the service reads.
#pragma once

#include <atomic>
#include <string>

namespace zirvo::service {

// Verbose logging switch, loaded from the settings at every settings read and read by
// every thread; atomic because the service thread and the cycle read it while a settings
// read may change it.
extern std::atomic<bool> DebugMode;

// The settings values that the settings readers keep from one read to the next. Each
// read overwrites them field by field; a field a read does not reach keeps its value.
// Written by the settings reads (main thread, and the service thread at start).
struct TServiceSettings {
  std::string ZirvoServiceName;
  std::string MySQLDBPwd;
  std::string MySQLDBPort;
  // A directory path ending in a path delimiter.
  std::string DataBaseDir;
  std::string HTTPServer;
  std::string HTTPUserName;
  std::string HTTPPassword;
  std::string HTTPPort;
  bool HTTPBasicAuthentification = false;
};

extern TServiceSettings ServiceSettings;

// The address of the remote access code endpoint, rebuilt by every cycle before the
// MySQL set-up. Main thread.
extern std::string RemoteAccessURL;

}  // namespace zirvo::service
