#include "service/ProgramFolderAccess.h"

#include <filesystem>
#include <system_error>

#include "base/StringUtils.h"
#include "delivery/DeliveryCheck.h"
#include "host/ServiceHost.h"
#include "platform/AccessRules.h"
#include "platform/CodePage.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "service/MainService.h"

namespace zirvo::service {

std::vector<platform::AccessGrant> ProgramFolderGrants(const std::string& executablePath) {
  const std::string folder = ExtractFilePath(executablePath);
  const std::string dataFolder = folder + "Private";
  std::error_code ignored;
  std::filesystem::create_directories(FileSystemPath(dataFolder), ignored);
  std::vector<platform::AccessGrant> grants = {
      {folder, platform::kReadExecuteRights, true},
      {folder, platform::kAddFileRight, false},
  };
  for (const std::string& path :
       {ChangeFileExt(executablePath, ".ini"), ChangeFileExt(executablePath, ".log"),
        delivery::ResultFilePath(executablePath), dataFolder}) {
    if (std::filesystem::exists(FileSystemPath(path), ignored)) {
      grants.push_back({path, platform::kModifyRights, path == dataFolder});
    }
  }
  return grants;
}

int RunPermissionsCommand(const std::vector<std::string>& arguments,
                          const std::string& executablePath) {
  std::string account = platform::VirtualServiceAccount(kServiceName);
  for (std::size_t i = 0; i + 1 < arguments.size(); ++i) {
    if (host::FindCmdLineSwitch({arguments[i]}, "permissions") && arguments[i + 1].size() > 0 &&
        arguments[i + 1][0] != '-' && arguments[i + 1][0] != '/') {
      account = arguments[i + 1];
    }
  }
  const auto fail = [](const std::string& text) {
    platform::ShowMessage(kServiceDisplayName, text, platform::MessageKind::kError);
    return 1;
  };
  if (!platform::FileAccessListsApply()) {
    return fail(
        "L'option -permissions ne concerne que Windows : sous Linux, les droits du service sont "
        "ceux de son compte (unité systemd) et des fichiers.");
  }
  const std::string folder = platform::PathToText(ExtractFilePath(executablePath));
  for (const platform::AccessGrant& grant : ProgramFolderGrants(executablePath)) {
    try {
      platform::GrantAccess(account, {grant});
    } catch (const std::exception& error) {
      return fail("Les droits du compte « " + account + " » n'ont pas pu être accordés sur " +
                  platform::PathToText(grant.path) + " : " + error.what());
    }
  }
  if (!host::FindCmdLineSwitch(arguments, "SILENT")) {
    platform::ShowMessage(kServiceDisplayName,
                          "Droits accordés au compte « " + account + " » sur " + folder +
                              " : lecture et exécution du dossier ; modification des "
                              "paramètres, du journal, de la copie des réponses et du dossier "
                              "Private.",
                          platform::MessageKind::kInformation);
  }
  return 0;
}

}  // namespace zirvo::service
