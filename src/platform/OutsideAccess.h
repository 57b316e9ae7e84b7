// Who, beyond the system, the administrators and the service's own account, may read or
// write one of the service's paths. The settings, the log and the reply copy hold the
// practice's secrets (the scrambled form is reversible by anyone who has the program), and
// whoever may write the program, its libraries or its settings may run code as the service.
#pragma once

#include <string>

namespace zirvo::platform {

struct OutsideAccess {
  // False when the system could not tell (missing path, unreadable access list): nothing
  // is claimed either way.
  bool known = false;
  // Someone else may write, replace or change the permissions of the path.
  bool writable = false;
  // Someone else may read the path.
  bool readable = false;
  // The accounts or classes concerned, in the operator's terms ("BUILTIN\Utilisateurs",
  // "tous les utilisateurs (mode 0644)"), for the French warning line.
  std::string who;
};

// `serviceAccount` is the account the service is registered to run as, "" when it is not
// registered (then only the system and the administrators are trusted). Any thread.
OutsideAccess QueryOutsideAccess(const std::string& path, const std::string& serviceAccount);

}  // namespace zirvo::platform
