#include "service/OutsideAccessReport.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "delivery/DeliveryCheck.h"
#include "platform/Accounts.h"
#include "platform/CodePage.h"
#include "platform/OutsideAccess.h"
#include "platform/Paths.h"

namespace zirvo::service {

namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : " ; ") + item;
  return text;
}

}  // namespace

OutsideAccessReport FindOutsideAccess(const std::string& executablePath,
                                      const std::string& serviceAccount) {
  std::string account;
  try {
    if (!serviceAccount.empty() && platform::AccountExists(serviceAccount))
      account = serviceAccount;
  } catch (const Exception&) {
    // An account database that cannot be asked trusts no one but the system.
  }
  std::string folder = ExtractFilePath(executablePath);
  if (folder.size() > 1) folder.pop_back();
  const std::string settings = ChangeFileExt(executablePath, ".ini");
  struct Checked {
    const char* label;
    std::string path;
    bool write;
    bool read;
  };
  const Checked paths[] = {
      {"le dossier du programme", folder, true, false},
      {"le programme", executablePath, true, false},
      {"le fichier de paramètres", settings, true, true},
      {"le journal", ChangeFileExt(executablePath, ".log"), false, true},
      {"la copie de la réponse", delivery::ResultFilePath(executablePath), false, true},
  };
  OutsideAccessReport report;
  for (const Checked& checked : paths) {
    const platform::OutsideAccess access = platform::QueryOutsideAccess(checked.path, account);
    if (!access.known) continue;
    const std::string entry = std::string(checked.label) + " " +
                              platform::PathToText(checked.path) + " (" +
                              EscapeControlBytes(access.who) + ")";
    if (checked.write && access.writable) {
      report.writable.push_back(entry);
    } else if (checked.read && (access.readable || access.writable)) {
      report.readable.push_back(entry);
    }
  }
  return report;
}

std::string OutsideAccessLogLine(const OutsideAccessReport& report) {
  if (report.writable.empty() && report.readable.empty()) return {};
  std::string line = "Sécurité : ";
  if (!report.writable.empty()) {
    line += "modifiable par d'autres comptes que l'administrateur et celui du service : " +
            Joined(report.writable) +
            " (quiconque peut les modifier peut exécuter du code sous le compte du service)";
  }
  if (!report.readable.empty()) {
    line += std::string(report.writable.empty() ? "" : " ; ") +
            "lisible par d'autres comptes : " + Joined(report.readable) +
            " (les secrets brouillés s'y décodent avec le programme)";
  }
  return line + ". Restreignez ces droits (voir « ZirvoSrv -check »).";
}

}  // namespace zirvo::service
