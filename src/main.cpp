// Program entry of ZirvoSrv: the service host with its one service object.
#include <memory>
#include <string>
#include <vector>

#include "config/ScrambleCommand.h"
#include "host/ServiceHost.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/ServiceAccount.h"
#include "platform/ServiceManager.h"
#include "service/CommandLine.h"
#include "service/MainService.h"
#include "service/ProgramFolderAccess.h"
#include "service/SelfCheck.h"

int main(int argc, char** argv) {
  zirvo::platform::RestrictLibrarySearch();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!zirvo::service::UnknownOption(arguments).empty()) {
    for (const std::string& line : zirvo::service::UsageText()) {
      zirvo::platform::PrintConsoleLine(line);
    }
    return zirvo::service::kUsageExitCode;
  }
  if (zirvo::host::FindCmdLineSwitch(arguments, "scramble")) {
    return zirvo::config::RunScrambleCommand();
  }
  if (zirvo::host::FindCmdLineSwitch(arguments, "permissions")) {
    return zirvo::service::RunPermissionsCommand(arguments, zirvo::platform::ExecutablePath());
  }
  if (zirvo::host::FindCmdLineSwitch(arguments, "check")) {
    // Before anything of the service exists: the check writes no log line and leaves a
    // running service alone.
    return zirvo::service::RunSelfCheck(
        {.executablePath = zirvo::platform::ExecutablePath(),
         .stateQuery = zirvo::platform::QueryServiceCurrentState,
         .serviceAccount = zirvo::platform::RegisteredServiceAccount,
         .writeAccess = zirvo::platform::AccountWriteAccess,
         .onInterrupt = zirvo::platform::OnOperatorInterrupt,
         .print = zirvo::platform::PrintConsoleLine});
  }
  // The manager comes first: on Linux it blocks the control signals for every thread
  // the program starts later.
  std::unique_ptr<zirvo::platform::ServiceControlManager> manager;
  try {
    manager = zirvo::platform::CreateSystemServiceManager(
        zirvo::host::FindCmdLineSwitch(arguments, "console"));
  } catch (const std::exception& error) {
    // Nothing else is set up yet: the message goes where an operator starting the
    // program sees it (standard error on Linux, which the journal keeps under systemd).
    zirvo::platform::ShowMessage(zirvo::service::kServiceDisplayName, error.what(),
                                 zirvo::platform::MessageKind::kError);
    return 1;
  }
  zirvo::platform::KeepRunningAtLogOff();
  zirvo::host::ServiceHost host(arguments, zirvo::host::SystemHostEnvironment(*manager));
  try {
    host.SetTitle(zirvo::service::kServiceDisplayName);
    host.CreateService<zirvo::service::TZirvoService>();
    const int status = host.Run();
    // Started by hand from a terminal: the event log has the system's reason, the
    // operator reads what to do instead.
    if (status != 0 && arguments.empty() && zirvo::platform::StandardErrorIsTerminal()) {
      zirvo::platform::PrintConsoleErrorLine(zirvo::service::NotStartedByManagerHint());
    }
    return status;
  } catch (const std::exception& error) {
    host.HandleException(error);
    return 1;
  }
}
