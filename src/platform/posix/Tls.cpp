#include "platform/Tls.h"

#include <dlfcn.h>

namespace zirvo::platform {

namespace {

struct DlCloser {
  void operator()(void* handle) const { ::dlclose(handle); }
};

class PosixSharedLibraries : public SharedLibraries {
 public:
  void Add(void* handle) { handles_.emplace_back(handle); }
  void* Find(const char* name) const override {
    for (const auto& handle : handles_) {
      if (void* symbol = ::dlsym(handle.get(), name)) return symbol;
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<void, DlCloser>> handles_;
};

}  // namespace

LibraryNameGroups DefaultTlsLibraryNames() {
  return {{"libcrypto.so.3", "libcrypto.so.1.1", "libcrypto.so"},
          {"libssl.so.3", "libssl.so.1.1", "libssl.so"}};
}

std::unique_ptr<SharedLibraries> LoadSharedLibraries(const LibraryNameGroups& groups) {
  auto libraries = std::make_unique<PosixSharedLibraries>();
  for (const auto& group : groups) {
    void* handle = nullptr;
    for (const auto& name : group) {
      handle = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle != nullptr) break;
    }
    if (handle == nullptr) return nullptr;
    libraries->Add(handle);
  }
  return libraries;
}

}  // namespace zirvo::platform
