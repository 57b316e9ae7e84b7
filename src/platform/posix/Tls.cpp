#include "platform/Tls.h"

#include <dlfcn.h>

namespace zirvo::platform {

namespace {

struct DlCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};
using UniqueLibrary = std::unique_ptr<void, DlCloser>;

class PosixSharedLibraries : public SharedLibraries {
 public:
  PosixSharedLibraries(UniqueLibrary crypto, UniqueLibrary ssl)
      : crypto_(std::move(crypto)), ssl_(std::move(ssl)) {}

  // A lookup through a dlopen handle also searches the libraries that file depends on,
  // so the TLS library's handle finds the crypto library it was linked with.
  void* Find(const char* name) const override {
    if (void* symbol = ::dlsym(ssl_.get(), name)) return symbol;
    return ::dlsym(crypto_.get(), name);
  }

  std::string Location() const override {
    Dl_info info{};
    void* symbol = ::dlsym(ssl_.get(), "SSL_new");
    return symbol != nullptr && ::dladdr(symbol, &info) != 0 && info.dli_fname != nullptr
               ? std::string(info.dli_fname)
               : std::string();
  }

 private:
  UniqueLibrary crypto_;
  UniqueLibrary ssl_;
};

}  // namespace

std::vector<TlsLibraryFiles> DefaultTlsLibraryNames() {
  return {{"libcrypto.so.3", {"libssl.so.3"}},
          {"libcrypto.so.1.1", {"libssl.so.1.1"}},
          {"libcrypto.so", {"libssl.so"}}};
}

std::unique_ptr<SharedLibraries> LoadSharedLibraries(const TlsLibraryFiles& files) {
  UniqueLibrary crypto(::dlopen(files.crypto.c_str(), RTLD_NOW | RTLD_LOCAL));
  if (!crypto) return nullptr;
  for (const auto& name : files.ssl) {
    UniqueLibrary ssl(::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (ssl) return std::make_unique<PosixSharedLibraries>(std::move(crypto), std::move(ssl));
  }
  return nullptr;
}

std::uint64_t TlsInitOptions() { return 0; }

}  // namespace zirvo::platform
