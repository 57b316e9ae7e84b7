#include "platform/Tls.h"

#include <windows.h>

namespace zirvo::platform {

namespace {

struct ModuleFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};

class Win32SharedLibraries : public SharedLibraries {
 public:
  void Add(HMODULE module) { modules_.emplace_back(module); }
  void* Find(const char* name) const override {
    for (const auto& module : modules_) {
      if (FARPROC symbol = GetProcAddress(module.get(), name)) {
        return reinterpret_cast<void*>(symbol);
      }
    }
    return nullptr;
  }

 private:
  std::vector<std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>> modules_;
};

}  // namespace

LibraryNameGroups DefaultTlsLibraryNames() {
  return {{"libeay32.dll"}, {"ssleay32.dll", "libssl32.dll"}};
}

std::unique_ptr<SharedLibraries> LoadSharedLibraries(const LibraryNameGroups& groups) {
  auto libraries = std::make_unique<Win32SharedLibraries>();
  // A service has nobody to click a "missing DLL" dialog away.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  for (const auto& group : groups) {
    HMODULE module = nullptr;
    for (const auto& name : group) {
      module = LoadLibraryA(name.c_str());
      if (module != nullptr) break;
    }
    if (module == nullptr) {
      SetErrorMode(previousMode);
      return nullptr;
    }
    libraries->Add(module);
  }
  SetErrorMode(previousMode);
  return libraries;
}

}  // namespace zirvo::platform
