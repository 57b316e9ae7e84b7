// What the manager is told about a service: its owner fills the record, the frame keeps a
// copy of it, the installation registers that copy and a run reports with the part it took
// when the run began.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zirvo::host {

enum class ServiceType { stWin32, stDevice, stFileSystem };
enum class StartType { stBoot = 0, stSystem = 1, stAuto = 2, stManual = 3, stDisabled = 4 };
enum class ErrorSeverity { esIgnore = 0, esNormal = 1, esSevere = 2, esCritical = 3 };

// Every member has an initialiser, so that an owner names only what it sets.
struct ServiceRegistration {
  std::string name{};
  std::string displayName{};  // empty: the name
  std::string startName{};    // the account; empty: the system's own
  std::string password{};
  // Only for the system's own account: a start name or a password clears it.
  bool interactive = false;
  ServiceType serviceType = ServiceType::stWin32;
  StartType startType = StartType::stAuto;
  ErrorSeverity errorSeverity = ErrorSeverity::esNormal;
  // A stop handler allows stop, a pause or continue handler pause, whatever these say.
  bool allowStop = true;
  bool allowPause = true;
  std::uint32_t waitHint = 5000;
  std::string loadGroup{};
  std::vector<std::string> dependencies{};
  std::uint32_t tagId = 0;  // the manager's answer once installed
  // Files named in the registration for administrators, as (label, full path).
  std::vector<std::pair<std::string, std::string>> documentedFiles{};
};

}  // namespace zirvo::host
