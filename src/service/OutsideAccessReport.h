// Which of the service's own paths other accounts than the system's and the service's
// may change or read: the service says so once at start, and -check fails or warns.
#pragma once

#include <string>
#include <vector>

namespace zirvo::service {

struct OutsideAccessReport {
  // The program's folder, the executable and the settings file: whoever may change one
  // of them may run code under the service's account.
  std::vector<std::string> writable;
  // The settings file, the log and the reply copy: they hold the scrambled secrets (and,
  // in debug mode, password fragments and the gateway's replies).
  std::vector<std::string> readable;
};

// Each entry names the path and who ("le fichier de paramètres /opt/z/ZirvoSrv.ini (tous
// les utilisateurs, mode 0644)"). A path that does not exist, or that the system cannot
// judge, is left out. `serviceAccount` is the account name the settings give
// (ZirvoServiceName): trusted when such an account exists.
OutsideAccessReport FindOutsideAccess(const std::string& executablePath,
                                      const std::string& serviceAccount);

// The service's one log line at start; "" when nothing is open to others.
std::string OutsideAccessLogLine(const OutsideAccessReport& report);

}  // namespace zirvo::service
