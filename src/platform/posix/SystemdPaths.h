// Where the Linux stand-in for the service control manager keeps its files: unit files
// (the service database) and runtime status records (the manager's status of each
// running service). Both folders can be redirected through the environment for tests.
// Shared by the POSIX service manager files only.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zirvo::platform::posix {

inline constexpr const char* kRuntimeDirectoryName = "zirvosrv";

inline std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

inline std::string UnitDirectory() {
  const std::string overridden = Environment("ZIRVOSRV_UNIT_DIR");
  return overridden.empty() ? "/etc/systemd/system" : overridden;
}

inline std::string RuntimeDirectory() {
  const std::string overridden = Environment("ZIRVOSRV_RUNTIME_DIR");
  return overridden.empty() ? std::string("/run/") + kRuntimeDirectoryName : overridden;
}

inline std::string UnitPath(const std::string& name) {
  return UnitDirectory() + "/" + name + ".service";
}

inline std::string RecordPath(const std::string& name) {
  return RuntimeDirectory() + "/" + name + ".status";
}

// The test systemd itself uses (sd_booted): its runtime directory exists only when it is
// the init system.
inline bool SystemdRuns() {
  struct stat info {};
  return ::lstat("/run/systemd/system", &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace zirvo::platform::posix
