// Loading of the TLS library (OpenSSL) by file name at run time. The library is not
// linked: a machine without it still runs everything but TLS connections.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zirvo::platform {

// The loaded files of one OpenSSL installation. Unloaded when destroyed; the TLS layer
// keeps one for the life of the process. Lookups may run on any thread.
class SharedLibraries {
 public:
  virtual ~SharedLibraries() = default;
  // The address of an exported function, or null. The TLS library is searched first,
  // then the crypto library that the TLS library itself uses, then the crypto file
  // loaded by name: when the two names lead to different copies of the crypto library
  // (renamed files), its functions (the error queue above all) are those of the copy
  // that the TLS library reports into.
  virtual void* Find(const char* name) const = 0;
  // Where the TLS library file was loaded from, as text for the log ("" when unknown).
  virtual std::string Location() const { return std::string(); }
};

// The file names of one OpenSSL installation: its crypto library, then its TLS library
// under alternative names tried in turn. Files of different versions never mix.
struct TlsLibraryFiles {
  std::string crypto;
  std::vector<std::string> ssl;
};

// The installations to try, in order: OpenSSL 3, then 1.1, then the 1.0 names
// ("libeay32.dll", then "ssleay32.dll" or "libssl32.dll") on Windows; libcrypto and
// libssl of the same version on Linux.
std::vector<TlsLibraryFiles> DefaultTlsLibraryNames();

// Loads the crypto file and then one TLS file of an installation, without any system
// error dialog: on Linux from the system's library search path; on Windows from the
// executable's folder or System32 only (never the current directory, the Windows folder
// or a PATH folder, where any user may put a file of that name). Null when either cannot
// be loaded.
std::unique_ptr<SharedLibraries> LoadSharedLibraries(const TlsLibraryFiles& files);

// The options the library is initialised with (OPENSSL_init_ssl). Windows: never read a
// configuration file, whatever the DLLs' built-in folder or OPENSSL_CONF say: a file
// there may name modules that would then run inside the service. Linux: none (the
// system's own configuration, which only its administrator may change).
std::uint64_t TlsInitOptions();

}  // namespace zirvo::platform
