#include "platform/Tls.h"

#include <windows.h>

#include <type_traits>

namespace zirvo::platform {

namespace {

struct ModuleFreer {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

// The already loaded module, among those `module` imports from, that exports `symbol`;
// null when there is none. GetProcAddress searches one module only, unlike dlsym on a
// dlopen handle, so the crypto library that the TLS library really calls is found
// through the TLS library's import table.
HMODULE ImportedModuleExporting(HMODULE module, const char* symbol) {
  const auto* base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0 || imports.Size == 0) return nullptr;
  for (const auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    const char* name = reinterpret_cast<const char*>(base + entry->Name);
    HMODULE imported = ::GetModuleHandleA(name);
    if (imported != nullptr && ::GetProcAddress(imported, symbol) != nullptr) return imported;
  }
  return nullptr;
}

class Win32SharedLibraries : public SharedLibraries {
 public:
  Win32SharedLibraries(UniqueModule crypto, UniqueModule ssl)
      : crypto_(std::move(crypto)), ssl_(std::move(ssl)) {
    // Any function of the crypto library identifies it; the error queue is the one
    // that matters.
    sslCrypto_ = ImportedModuleExporting(ssl_.get(), "ERR_get_error");
  }

  void* Find(const char* name) const override {
    for (HMODULE module : {ssl_.get(), sslCrypto_, crypto_.get()}) {
      if (module == nullptr) continue;
      if (FARPROC symbol = ::GetProcAddress(module, name)) {
        return reinterpret_cast<void*>(symbol);
      }
    }
    return nullptr;
  }

 private:
  UniqueModule crypto_;
  UniqueModule ssl_;
  // Held loaded by ssl_, which imports it.
  HMODULE sslCrypto_ = nullptr;
};

}  // namespace

std::vector<TlsLibraryFiles> DefaultTlsLibraryNames() {
  return {{"libcrypto-3-x64.dll", {"libssl-3-x64.dll"}},
          {"libcrypto-1_1-x64.dll", {"libssl-1_1-x64.dll"}},
          {"libeay32.dll", {"ssleay32.dll", "libssl32.dll"}}};
}

std::unique_ptr<SharedLibraries> LoadSharedLibraries(const TlsLibraryFiles& files) {
  // A service has nobody to click a "missing DLL" dialog away.
  const UINT previousMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  std::unique_ptr<SharedLibraries> libraries;
  UniqueModule crypto(::LoadLibraryA(files.crypto.c_str()));
  if (crypto) {
    for (const auto& name : files.ssl) {
      UniqueModule ssl(::LoadLibraryA(name.c_str()));
      if (ssl) {
        libraries = std::make_unique<Win32SharedLibraries>(std::move(crypto), std::move(ssl));
        break;
      }
    }
  }
  ::SetErrorMode(previousMode);
  return libraries;
}

}  // namespace zirvo::platform
