// Loading of the TLS library (OpenSSL) by file name at run time. The library is not
// linked: a machine without it still runs everything but TLS connections.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zirvo::platform {

// The loaded library files. Unloaded when destroyed; the TLS layer keeps one for the
// life of the process. Lookups may run on any thread.
class SharedLibraries {
 public:
  virtual ~SharedLibraries() = default;
  // The address of an exported function of any of the files, or null.
  virtual void* Find(const char* name) const = 0;
};

// File names to load, in order. Each inner list is one library with alternative file
// names tried in turn (the crypto library first, then the TLS library).
using LibraryNameGroups = std::vector<std::vector<std::string>>;

// The system's usual file names of OpenSSL ("libeay32.dll", then "ssleay32.dll" or
// "libssl32.dll" on Windows; libcrypto and libssl on Linux).
LibraryNameGroups DefaultTlsLibraryNames();

// Loads one file of every group from the system's library search path, without any
// system error dialog. Null when a group has no loadable file.
std::unique_ptr<SharedLibraries> LoadSharedLibraries(const LibraryNameGroups& groups);

}  // namespace zirvo::platform
