#include "platform/Tls.h"

#include <windows.h>

#include <type_traits>

#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/win32/WidePath.h"

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

  std::string Location() const override {
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(ssl_.get(), path, MAX_PATH * 4);
    return PathToText(win32::PathFromWide({path, length}));
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
  const auto load = [](const std::string& name) {
    UniqueModule module(
        ::LoadLibraryExW(win32::WidePath(name).c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!module && ::GetLastError() == ERROR_INVALID_PARAMETER) {
      // A Windows 7 without its loader update knows no search flags: the executable's
      // folder is then named in full.
      const std::string folder =
          ExecutablePath().substr(0, ExecutablePath().find_last_of('\\') + 1);
      module.reset(::LoadLibraryExW(win32::WidePath(folder + name).c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH));
    }
    return module;
  };
  std::unique_ptr<SharedLibraries> libraries;
  UniqueModule crypto(load(files.crypto));
  if (crypto) {
    for (const auto& name : files.ssl) {
      UniqueModule ssl(load(name));
      if (ssl) {
        libraries = std::make_unique<Win32SharedLibraries>(std::move(crypto), std::move(ssl));
        break;
      }
    }
  }
  ::SetErrorMode(previousMode);
  return libraries;
}

std::uint64_t TlsInitOptions() {
  constexpr std::uint64_t kNoLoadConfig = 0x00000080;  // OPENSSL_INIT_NO_LOAD_CONFIG
  return kNoLoadConfig;
}

}  // namespace zirvo::platform
