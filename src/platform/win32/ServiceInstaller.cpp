// The manager's database of installed services: CreateServiceA and DeleteService.
#include <windows.h>

#include "base/Errors.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "platform/win32/ScHandle.h"

namespace zirvo::platform {

namespace {

using win32::UniqueScHandle;

class Win32ServiceDatabase final : public ServiceDatabase {
 public:
  explicit Win32ServiceDatabase(UniqueScHandle manager) : manager_(std::move(manager)) {}

  void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t& tagId) override {
    std::string dependencies;
    for (const auto& name : service.dependencies) dependencies += name + '\0';
    if (!dependencies.empty()) dependencies += '\0';
    DWORD tag = tagId;
    const bool startName = !service.startName.empty();
    // Unquoted, a path with a blank ("C:\Program Files\...") would let the manager try
    // "C:\Program.exe" first: the classic unquoted service path weakness.
    const std::string imagePath = '"' + service.binaryPath + '"';
    UniqueScHandle created(::CreateServiceA(
        manager_.get(), service.name.c_str(), service.displayName.c_str(), SERVICE_ALL_ACCESS,
        service.serviceType, service.startType, service.errorControl, imagePath.c_str(),
        service.loadGroup.empty() ? nullptr : service.loadGroup.c_str(), tagId > 0 ? &tag : nullptr,
        dependencies.empty() ? nullptr : dependencies.c_str(),
        startName ? service.startName.c_str() : nullptr,
        startName ? service.password.c_str() : nullptr));
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
