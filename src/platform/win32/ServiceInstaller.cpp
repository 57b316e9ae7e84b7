// The manager's database of installed services: CreateServiceW and DeleteService.
#include <windows.h>

#include "base/Errors.h"
#include "platform/CodePage.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "platform/win32/ScHandle.h"
#include "platform/win32/WidePath.h"

namespace zirvo::platform {

namespace {

using win32::UniqueScHandle;

class Win32ServiceDatabase final : public ServiceDatabase {
 public:
  explicit Win32ServiceDatabase(UniqueScHandle manager) : manager_(std::move(manager)) {}

  void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t& tagId) override {
    const auto wide = [](const std::string& text) {
      const std::u16string units = AnsiToWide(text);
      return std::wstring(units.begin(), units.end());
    };
    std::wstring dependencies;
    for (const auto& name : service.dependencies) dependencies += wide(name) + L'\0';
    if (!dependencies.empty()) dependencies += L'\0';
    DWORD tag = tagId;
    const bool startName = !service.startName.empty();
    // Unquoted, a path with a blank ("C:\Program Files\...") would let the manager try
    // "C:\Program.exe" first: the classic unquoted service path weakness. The path is
    // registered in full Unicode: any folder name is the folder meant.
    const std::wstring imagePath = L'"' + win32::WidePath(service.binaryPath) + L'"';
    const std::wstring name = wide(service.name);
    const std::wstring displayName = wide(service.displayName);
    const std::wstring loadGroup = wide(service.loadGroup);
    const std::wstring account = wide(service.startName);
    const std::wstring password = wide(service.password);
    UniqueScHandle created(::CreateServiceW(
        manager_.get(), name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS, service.serviceType,
        service.startType, service.errorControl, imagePath.c_str(),
        loadGroup.empty() ? nullptr : loadGroup.c_str(), tagId > 0 ? &tag : nullptr,
        dependencies.empty() ? nullptr : dependencies.c_str(),
        startName ? account.c_str() : nullptr,
        // A virtual account has no password: none is passed, not even an empty one.
        startName && !service.password.empty() ? password.c_str() : nullptr));
    if (!created) throw EOSError(::GetLastError());
    if (tagId > 0) tagId = tag;
  }

  void DeleteServiceEntry(const std::string& name) override {
    UniqueScHandle service(::OpenServiceA(manager_.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) throw EOSError(::GetLastError());
    if (!::DeleteService(service.get())) throw EOSError(::GetLastError());
  }

 private:
  UniqueScHandle manager_;
};

}  // namespace

std::unique_ptr<ServiceDatabase> OpenSystemServiceDatabase() {
  UniqueScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) throw EOSError(::GetLastError());
  return std::make_unique<Win32ServiceDatabase>(std::move(manager));
}

}  // namespace zirvo::platform
