// The Linux service manager's own parts: unit files in a unit directory, the state
// query over the runtime status records, and the event log redirected to a file.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "base/Errors.h"
#include "host/FakeServiceManager.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "platform/Accounts.h"
#include "platform/EventLog.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace zirvo::host {
namespace {

using test::ScopedEnvironment;

// A manager whose only real part is the system's service database.
class DatabaseOnlyManager final : public platform::ServiceControlManager {
 public:
  std::uint32_t RunDispatcher(const std::vector<std::string>&,
                              const platform::ServiceMainEntry&) override {
    return platform::kErrorFailedServiceControllerConnect;
  }
  std::unique_ptr<platform::ServiceStatusHandle> RegisterControlHandler(
      const std::string&, platform::ControllerEntry, std::uint32_t& error) override {
    error = platform::kErrorFailedServiceControllerConnect;
    return nullptr;
  }
  std::unique_ptr<platform::ServiceDatabase> OpenServiceDatabase() override {
    return platform::OpenSystemServiceDatabase();
  }
};

class UnitService : public ServiceFrame {
 public:
  explicit UnitService(ServiceHost& host) : ServiceFrame(host) {
    SetRegistration({.name = "ZirvoEssai"});
  }
  platform::ControllerEntry GetServiceController() override { return &Ignore; }
  static void Ignore(std::uint32_t) {}
};

class SystemdUnitTest : public ::testing::Test {
 protected:
  SystemdUnitTest() : unitDirectory_("ZIRVOSRV_UNIT_DIR", units.Path().string()) {}

  int Run(std::vector<std::string> arguments, const std::function<void(UnitService&)>& configure,
          bool systemAccounts = false) {
    auto environment = test::FakeEnvironment(system, unused);
    environment.manager = &manager;
    if (systemAccounts) {
      environment.accountExists = platform::AccountExists;
      environment.systemAccountName = platform::SystemAccountName();
    }
    environment.programPath = programPath;
    ServiceHost host(std::move(arguments), environment);
    configure(host.CreateService<UnitService>());
    return host.Run();
  }
  std::string UnitFile() const { return units.File("ZirvoEssai.service"); }

  std::string programPath = "/opt/Zirvo $1 100%/ZirvoSrv";
  test::TempDir units;
  test::FakeSystem system;
  test::FakeServiceManager unused{system};
  DatabaseOnlyManager manager;

 private:
  ScopedEnvironment unitDirectory_;
};

TEST_F(SystemdUnitTest, InstallWritesTheUnitAndUninstallRemovesIt) {
  const auto configure = [](UnitService& service) {
    service.SetRegistration({.name = "ZirvoEssai",
                             .displayName = "Essai – 100% des SMS",
                             .startName = "root",
                             .dependencies = {"reseau", "+Groupe"},
                             .documentedFiles = {{"Paramètres", "/opt/Zirvo 100%/ZirvoSrv.ini"},
                                                 {"Journal", "/opt/Zirvo 100%/ZirvoSrv.log"}}});
  };
  ASSERT_EQ(Run({"-install"}, configure, true), 0);
  // The sandbox is systemd's to rate (below); here, only where it lets the service write.
  std::string unit = test::ReadFileBytes(UnitFile());
  const auto sandbox = unit.find("UMask=0077\n");
  ASSERT_NE(sandbox, std::string::npos) << unit;
  EXPECT_NE(unit.find("\nReadWritePaths=\"/opt/Zirvo $1 100%%\"\n", sandbox), std::string::npos);
  unit.erase(sandbox, unit.find("\n[Install]") - sandbox);
  EXPECT_EQ(unit,
            "[Unit]\n"
            "Description=Essai – 100%% des SMS\n"
            "# Paramètres : /opt/Zirvo 100%/ZirvoSrv.ini\n"
            "# Journal : /opt/Zirvo 100%/ZirvoSrv.log\n"
            "Requires=reseau.service\n"
            "After=reseau.service\n"
            "\n"
            "[Service]\n"
            "Type=notify\n"
            "ExecStart=\"/opt/Zirvo $1 100%%/ZirvoSrv\"\n"
            "WorkingDirectory=/opt/Zirvo $1 100%%\n"
            "User=root\n"
            "RuntimeDirectory=zirvosrv\n"
            "Restart=on-failure\n"
            "RestartSec=30\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n");
  // Readable by all, written whole: no temporary file stays beside it.
  EXPECT_EQ(std::filesystem::status(UnitFile()).permissions(), std::filesystem::perms(0644));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(units.Path()),
                          std::filesystem::directory_iterator()),
            1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service installed successfully\nLe service « Essai – 100% des SMS » est installé "
            "sous le compte « root ».");

  // A second installation is refused as the Windows manager refuses it, and the unit
  // in place is left alone.
  const std::string before = test::ReadFileBytes(UnitFile());
  system.messages.clear();
  EXPECT_EQ(Run({"-install", "-silent"}, configure), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Essai – 100% des SMS\" failed to install with error: \"System Error.  "
            "Code: 1073.\r\nLe service spécifié existe déjà\"");
  EXPECT_EQ(test::ReadFileBytes(UnitFile()), before);

  system.messages.clear();
  ASSERT_EQ(Run({"/UNINSTALL", "/SILENT"}, configure), 0);
  EXPECT_TRUE(system.messages.empty());
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));

  EXPECT_EQ(Run({"/uninstall"}, configure), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Essai – 100% des SMS\" failed to uninstall with error: \"System Error.  "
            "Code: 1060.\r\nLe service spécifié n'existe pas en tant que service installé\"");
}

TEST_F(SystemdUnitTest, AManualServiceWithoutAccountHasNoUserAndNoInstallSection) {
  ASSERT_EQ(Run({"-install", "-silent"},
                [](UnitService& service) {
                  test::ChangeRegistration(
                      service, [](ServiceRegistration& r) { r.startType = StartType::stManual; });
                }),
            0);
  const std::string text = test::ReadFileBytes(UnitFile());
  EXPECT_NE(text.find("Description=ZirvoEssai\n"), std::string::npos);
  EXPECT_NE(text.find("ExecStart=\"/opt/Zirvo $1 100%%/ZirvoSrv\"\n"), std::string::npos);
  EXPECT_EQ(text.find("User="), std::string::npos);
  EXPECT_EQ(text.find("[Install]"), std::string::npos);
}

TEST_F(SystemdUnitTest, AMissingAccountIsRefusedAndLeavesNoUnit) {
  EXPECT_EQ(Run({"-install"},
                [](UnitService& service) {
                  service.SetServiceStartName("zirvo-compte-qui-n-existe-pas");
                }),
            1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].first, platform::MessageKind::kError);
  EXPECT_EQ(system.messages[0].second,
            "Service \"ZirvoEssai\" failed to install with error: \"System Error.  Code: "
            "1057.\r\nLe nom de compte n'est pas valide ou n'existe pas, ou le mot de passe "
            "n'est pas valide pour le nom de compte spécifié\"");
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
}

TEST_F(SystemdUnitTest, AMissingAccountFallsBackToTheSystemAccountAndSaysSo) {
  const auto configure = [](UnitService& service) {
    service.SetServiceStartName("zirvo-compte-qui-n-existe-pas");
  };
  ASSERT_EQ(Run({"-install"}, configure, true), 0);
  const std::string text = test::ReadFileBytes(UnitFile());
  EXPECT_EQ(text.find("User="), std::string::npos);
  EXPECT_NE(text.find("ExecStart="), std::string::npos);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].first, platform::MessageKind::kInformation);
  EXPECT_EQ(system.messages[0].second,
            "Service installed successfully\nLe compte « zirvo-compte-qui-n-existe-pas » "
            "n'existe pas : le service « ZirvoEssai » est installé sous le compte système "
            "(root).");
}

std::string CommandOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
      output.append(buffer, read);
    }
    ::pclose(pipe);
  }
  return output;
}

// systemd's own rating of the unit's sandbox, wherever the program lies and whichever
// account runs it (the home and temporary folders loosen it the most); and systemd finds
// the program in a folder whose name holds '$' and '%'.
TEST_F(SystemdUnitTest, TheSandboxRatesAtMostFourWhereverTheProgramLies) {
  test::TempDir programs;
  const std::string folder = programs.File("Zirvo $HOME 100%");
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file("/bin/true", folder + "/ZirvoSrv");
  for (const std::string& path :
       {std::string("/opt/zirvo/ZirvoSrv"), std::string("/home/cabinet/Zirvo/ZirvoSrv"),
        folder + "/ZirvoSrv"}) {
    for (const char* account : {"", "nobody"}) {
      SCOPED_TRACE(path + " " + account);
      programPath = path;
      ASSERT_EQ(Run({"-install", "-silent"},
                    [account](UnitService& service) { service.SetServiceStartName(account); }),
                0);
      const std::string output =
          CommandOutput("systemd-analyze security --offline=yes '" + UnitFile() + "'");
      const std::string label = "Overall exposure level for ZirvoEssai.service: ";
      const auto at = output.find(label);
      ASSERT_NE(at, std::string::npos) << output;
      // "N.N", read without the locale's decimal separator.
      const std::string rating = output.substr(at + label.size(), 4);
      ASSERT_TRUE(rating.size() == 4 && std::isdigit(rating[0]) && rating[1] == '.' &&
                  std::isdigit(rating[2]))
          << output;
      EXPECT_LE((rating[0] - '0') * 10 + (rating[2] - '0'), 40) << output;
      if (path.rfind(folder, 0) == 0) {
        const std::string verified =
            CommandOutput("systemd-analyze verify --man=no '" + UnitFile() + "'");
        EXPECT_EQ(verified.find("ZirvoSrv"), std::string::npos) << verified;
      }
      ASSERT_EQ(Run({"-uninstall", "-silent"}, [](UnitService&) {}), 0);
    }
  }
}

TEST_F(SystemdUnitTest, ALineBreakCannotSlipASettingIntoTheUnit) {
  EXPECT_EQ(Run({"-install"},
                [](UnitService& service) {
                  test::ChangeRegistration(service, [](ServiceRegistration& r) {
                    r.displayName = "Essai\nExecStartPre=/bin/false";
                  });
                }),
            1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"Essai\nExecStartPre=/bin/false\" failed to install with error: \"Texte "
            "impossible à écrire dans le fichier d'unité systemd (caractère de contrôle) : « "
            "Essai »\"");
  EXPECT_FALSE(std::filesystem::exists(UnitFile()));
}

TEST_F(SystemdUnitTest, AnUnwritableUnitDirectoryGivesTheSystemError) {
  ScopedEnvironment missing("ZIRVOSRV_UNIT_DIR", units.File("absent"));
  EXPECT_EQ(Run({"-install"}, [](UnitService&) {}), 1);
  ASSERT_EQ(system.messages.size(), 1u);
  EXPECT_EQ(system.messages[0].second,
            "Service \"ZirvoEssai\" failed to install with error: \"" + OSErrorMessage(2) + "\"");
}

TEST(ServiceStateQueryTest, ReadsLiveRecordsAndFallsBackToTheUnit) {
  test::TempDir units;
  test::TempDir runtime;
  ScopedEnvironment unitDirectory("ZIRVOSRV_UNIT_DIR", units.Path().string());
  ScopedEnvironment runtimeDirectory("ZIRVOSRV_RUNTIME_DIR", runtime.Path().string());
  EXPECT_EQ(platform::QueryServiceCurrentState("ZirvoEssai", ""), std::nullopt);

  const std::string ownPid = std::filesystem::read_symlink("/proc/self").string();
  test::WriteFileBytes(runtime.File("ZirvoEssai.status"),
                       "State=7\nControlsAccepted=7\nCheckPoint=0\nPid=" + ownPid + "\n");
  EXPECT_EQ(platform::QueryServiceCurrentState("ZirvoEssai", ""), 7u);
  EXPECT_EQ(platform::QueryServiceCurrentState("ZirvoEssai", "autre-machine"), std::nullopt);

  // A record left by a process that has ended says nothing any more.
  test::WriteFileBytes(runtime.File("ZirvoEssai.status"), "State=4\nPid=2147480000\n");
  EXPECT_EQ(platform::QueryServiceCurrentState("ZirvoEssai", ""), std::nullopt);
  test::WriteFileBytes(units.File("ZirvoEssai.service"), "[Unit]\n");
  EXPECT_EQ(platform::QueryServiceCurrentState("ZirvoEssai", ""), 1u);
}

TEST(EventLogFileTest, WritesOneLinePerEntryWithLineBreaksEscaped) {
  test::TempDir directory;
  ScopedEnvironment file("ZIRVOSRV_EVENTLOG", directory.File("events.log"));
  auto first = platform::OpenEventSource("ZirvoService");
  auto second = platform::OpenEventSource("ZirvoSrv");
  first->ReportError("System Error.  Code: 5.\r\nAccès refusé \\ fin");
  second->ReportError("deuxième");
  EXPECT_EQ(test::ReadFileBytes(directory.File("events.log")),
            "ZirvoService: System Error.  Code: 5.\\r\\nAccès refusé \\\\ fin\n"
            "ZirvoSrv: deuxième\n");
}

}  // namespace
}  // namespace zirvo::host
