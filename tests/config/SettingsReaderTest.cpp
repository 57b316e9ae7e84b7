#include "config/SettingsReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <vector>

#include "base/Errors.h"
#include "base/Unicode.h"
#include "config/Common.h"
#include "platform/CodePage.h"
#include "support/TempDir.h"

namespace zirvo::config {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// The SQL Server connection string of a login, as the service is given it.
std::u16string ConnectionString(const std::u16string& server, const std::u16string& password,
                                const std::u16string& user = u"sa") {
  return u"Provider=MSOLEDBSQL.1;Persist Security Info=True;Initial File Name=\"\";"
         u"Server SPN=\"\";Authentication=\"\";Access Token=\"\";Data Source=" +
         server + u";" +
         (password.empty() ? u"" : u"User ID=" + user + u";Password=" + password + u";");
}

class SettingsReaderTest : public ::testing::Test {
 protected:
  SettingsReaderTest()
      : exe_(dir_.File("ZirvoSrv")),
        reader_(exe_, Log([this](const std::string& line) { Logging(line); })) {}

  // One read, from the value the last one made.
  bool Read() {
    value_ = reader_.Read(value_, sqlServerOpen_);
    return value_.Outcome.completed;
  }
  IniFile Own() { return IniFile(dir_.File("ZirvoSrv.ini")); }
  void WriteOwn(const std::string& content) { WriteFileBytes(dir_.File("ZirvoSrv.ini"), content); }
  bool Logged(const std::string& line) const {
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }
  std::string Marker() { return Own().ReadString("Execution", "LastMessage2", "(absent)"); }

  TempDir dir_;
  std::string exe_;
  Settings value_;
  bool sqlServerOpen_ = false;
  std::vector<std::string> log_;
  // The marker the file shows when the connection string is built (a debug line).
  std::string markerAtBuild_;
  bool failBuild_ = false;
  SettingsReader reader_;

 private:
  void Logging(const std::string& line) {
    if (line.rfind("ConnStr=", 0) == 0) {
      markerAtBuild_ = Marker();
      if (failBuild_) throw Exception("journal inaccessible");
      return;
    }
    log_.push_back(line);
  }
};

TEST_F(SettingsReaderTest, FirstRunOnAnEmptyFolderWritesEveryKeyWithItsDefault) {
  Read();
  std::string content = ReadFileBytes(dir_.File("ZirvoSrv.ini"));
  content = std::regex_replace(content, std::regex("LireConfiguration=[^\r]*"),
                               "LireConfiguration=<now>");
  const std::string privateDir = dir_.File("Private") + "/";
  EXPECT_EQ(content,
            "[Main]\r\nDebugMode=0\r\nInterval=3600\r\nUseVarnox_ini=0\r\n"
            "ZirvoServiceName=ZirvoService\r\n"
            "[DBConnexion]\r\nMySQLDBPwd=" +
                std::string(kDefaultMySQLDBPwd) +
                "\r\nMySQLDBPort=3306\r\n"
                "[ODBC]\r\nSQLServerDriver=\r\nEncrypt=0\r\n"
                "[Endpoints]\r\nGatewayHost=" +
                std::string(kDefaultGatewayHost) +
                "\r\n"
                "AccessCodeHost=" +
                std::string(kDefaultAccessCodeHost) +
                "\r\n"
                "GatewayTlsVerification=1\r\n"
                "[Execution]\r\nLastMessage2=LireConfiguration() terminée.\r\n"
                "LireConfiguration=<now>\r\n"
                "[DBKERNEL]\r\nServerName=\r\nDatabaseName=\r\nUserName=sa\r\nSAPW=\r\n"
                "DataBaseDir=" +
                privateDir +
                "\r\n"
                "[MyDBKERNEL]\r\nQuenzarMySQLDB=QuenzarMySQLDB\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("Private")));
  EXPECT_EQ(log_,
            std::vector<std::string>{
                "!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage"});
  EXPECT_EQ(value_.Interval, 3600u);
  EXPECT_EQ(value_.SqlServerConnectionString, ConnectionString(u"", u""));
  EXPECT_EQ(value_.ZirvoServiceName, kServiceName);
  EXPECT_EQ(UnscramblePassword(kDefaultMySQLDBPwd).size(), 12u);
  EXPECT_EQ(value_.DataBaseDir, privateDir);
  EXPECT_TRUE(value_.Outcome.completed);
  EXPECT_EQ(value_.Outcome.filePartError, "");
}

TEST_F(SettingsReaderTest, MarkersAdvanceInOrderThroughTheOwnBranch) {
  WriteOwn("[Main]\r\nDebugMode=1\r\n");
  Read();
  EXPECT_EQ(markerAtBuild_, "modification de DataBaseDir...");
  sqlServerOpen_ = true;
  Read();
  EXPECT_EQ(markerAtBuild_, "La connexion MSSQL était ouverte !");
  EXPECT_EQ(Marker(), "LireConfiguration() terminée.");
}

TEST_F(SettingsReaderTest, AFailureAfterTheFilePartLeavesItsMarkerAndReachesTheCaller) {
  WriteOwn("[Main]\r\nDebugMode=1\r\n");
  failBuild_ = true;
  EXPECT_THROW(Read(), Exception);
  EXPECT_EQ(Marker(), "modification de DataBaseDir...");
  EXPECT_NE(Own().ReadString("Execution", "LireConfiguration", ""), "");
}

TEST_F(SettingsReaderTest, StoredPasswordIsUnscrambledAndKeptScrambledInTheFile) {
  const std::string scrambled = ScramblePassword("Sécret!");
  WriteOwn("[DBKERNEL]\r\nServerName=srv\\SQLEXPRESS\r\nSAPW=" + scrambled + "\r\n");
  Read();
  EXPECT_EQ(platform::WideToAnsi(value_.SC.Password), "Sécret!");
  EXPECT_EQ(value_.ScrambledSAPW, scrambled);
  EXPECT_EQ(Own().ReadString("DBKERNEL", "SAPW", ""), scrambled);
  Read();
  EXPECT_EQ(platform::WideToAnsi(value_.SC.Password), "Sécret!") << "the second run reads the same";
  EXPECT_EQ(Own().ReadString("DBKERNEL", "SAPW", ""), scrambled);

  for (const char* bad : {"ABC", "0a0b"}) {
    WriteOwn(std::string("[DBKERNEL]\r\nSAPW=") + bad + "\r\n");
    Read();
    EXPECT_EQ(value_.SC.Password, u"_") << bad;
    EXPECT_EQ(value_.SqlServerConnectionString, ConnectionString(u"", u"_"));
  }
}

TEST_F(SettingsReaderTest, DebugModeSwitchesBetweenRunsAndShowsOnlyTwoPasswordCharacters) {
  WriteOwn("[Main]\r\nDebugMode=1\r\n[DBKERNEL]\r\nServerName=srv\r\nSAPW=" +
           ScramblePassword("motdepasse") + "\r\n");
  Read();
  EXPECT_FALSE(Logged("Exécution de LireConfiguration...")) << "debug was off before this run";
  EXPECT_TRUE(Logged("Chargement des paramètres de démarrage du service SMS. Mode debug actif."));
  EXPECT_TRUE(Logged("Les paramètres de la connexion MSSQL ont été actualisés."));
  EXPECT_TRUE(Logged("LireConfiguration : ADO_MSSQLConnection.ConnectionString=" +
                     platform::WideToAnsi(ConnectionString(u"srv", u"")) +
                     "User ID=sa;Password=mo..."));
  EXPECT_TRUE(std::any_of(log_.begin(), log_.end(), [](const std::string& line) {
    return line.rfind("Lecture de la configuration effectuée à ", 0) == 0;
  }));

  log_.clear();
  Own().WriteString("Main", "DebugMode", "0");
  Own().WriteString("DBKERNEL", "SAPW", "");
  Read();
  EXPECT_EQ(log_,
            (std::vector<std::string>{
                "Exécution de LireConfiguration...",
                "!! LireConfiguration : mot de passe de connexion MSSQL vide après décodage"}));
  log_.clear();
  Own().WriteString("Main", "DebugMode", "1");
  Read();
  EXPECT_TRUE(Logged("LireConfiguration : ADO_MSSQLConnection.ConnectionString=" +
                     platform::WideToAnsi(ConnectionString(u"srv", u"")) +
                     " - AUCUN MOT DE PASSE"));
  Own().WriteString("Main", "DebugMode", "yes");
  Read();
  EXPECT_FALSE(value_.DebugMode);
  EXPECT_EQ(Own().ReadString("Main", "DebugMode", ""), "0");
}

TEST_F(SettingsReaderTest, IntervalEdgeValues) {
  const struct {
    const char* stored;
    std::uint32_t periodMs;
    const char* writtenBack;
    bool logged;
  } cases[] = {
      {"0", 0, "0", false},
      {"0x10", 16000, "16", false},
      {"abc", 3600000, "3600", false},
      {"$3C", 60000, "60", false},
      {"-5", 3600000, "3600", true},
      {"2147483", 2147483000u, "2147483", false},
      {"2147484", 2147483000u, "2147483", true},
      {"4294968", 2147483000u, "2147483", true},
  };
  for (const auto& c : cases) {
    log_.clear();
    WriteOwn(std::string("[Main]\r\nInterval=") + c.stored + "\r\n");
    Read();
    EXPECT_EQ(value_.Interval * 1000u, c.periodMs) << c.stored;
    EXPECT_EQ(Own().ReadString("Main", "Interval", ""), c.writtenBack) << c.stored;
    EXPECT_EQ(log_.size(), c.logged ? 2u : 1u) << c.stored;
  }
}

TEST_F(SettingsReaderTest, GatewayTlsVerificationTakesZeroOneOrTwoAndOtherwiseObservation) {
  for (const auto& [stored, applied] :
       std::vector<std::pair<std::string, int>>{{" 2 ", 2}, {"0", 0}, {"strict", 1}, {"3", 1}}) {
    log_.clear();
    WriteOwn("[Endpoints]\r\nGatewayTlsVerification=" + stored + "\r\n");
    Read();
    EXPECT_EQ(value_.GatewayTlsVerification, applied) << stored;
    EXPECT_EQ(Own().ReadString("Endpoints", "GatewayTlsVerification", ""), std::to_string(applied));
    const bool known = stored != "strict" && stored != "3";
    EXPECT_EQ(log_.size(), known ? 1u : 2u) << stored;
    if (!known) {
      EXPECT_EQ(log_[0].rfind("Endpoints : GatewayTlsVerification=" + stored, 0), 0u);
    }
  }
}

TEST_F(SettingsReaderTest, ServiceNameIsReadAsWritten) {
  WriteOwn("[Main]\r\nZirvoServiceName=\r\n");
  Read();
  EXPECT_EQ(value_.ZirvoServiceName, "");
  WriteOwn("[Main]\r\nZirvoServiceName=zirvoservice\r\n");
  Read();
  EXPECT_EQ(value_.ZirvoServiceName, "zirvoservice");
  EXPECT_EQ(Marker(), "LireConfiguration() terminée.") << "the run goes on";
}

TEST_F(SettingsReaderTest, EmptyPrivateDirectoryIsAbsorbedAsAStepOneError) {
  WriteOwn("[DBKERNEL]\r\nPrivate= \t \r\nServerName=srv\r\n");
  Read();
  EXPECT_TRUE(
      Logged("Erreur lors de la lecture de la configuration - étape 1 : "
             "Unable to create directory"));
  EXPECT_EQ(value_.SC.ServerName, u"srv") << "what was read before the error stays";
  EXPECT_EQ(value_.SqlServerConnectionString, ConnectionString(u"srv", u""));
  EXPECT_EQ(value_.Outcome.filePartError, "Unable to create directory");
  EXPECT_EQ(Marker(), "LireConfiguration() terminée.");
}

TEST_F(SettingsReaderTest, ReadOnlySettingsFileIsReportedOnceAndTheReadGoesOn) {
  const std::string content =
      "[Main]\r\nDebugMode=0\r\nInterval=5\r\n[DBKERNEL]\r\nSAPW=" + ScramblePassword("pw") +
      "\r\n";
  WriteOwn(content);
  test::MakeReadOnly(dir_.File("ZirvoSrv.ini"));
  for (int run = 0; run < 2; ++run) {
    log_.clear();
    EXPECT_TRUE(Read());
    EXPECT_EQ(log_, std::vector<std::string>{
                        "Erreur lors de la lecture de la configuration - étape 1 : Unable to write "
                        "to " +
                        dir_.File("ZirvoSrv.ini")});
    EXPECT_EQ(value_.Interval, 5u) << "the interval read is applied";
    EXPECT_EQ(value_.SC.Password, u"pw") << "unscrambled once, run " << run;
    EXPECT_EQ(value_.SqlServerConnectionString, ConnectionString(u"", u"pw"));
    EXPECT_EQ(ReadFileBytes(dir_.File("ZirvoSrv.ini")), content);
  }
}

// The scrambled secrets are kept apart from the plain ones, so a read that fails before it
// reaches them leaves both as the last complete read found them.
TEST_F(SettingsReaderTest, AFileThatCannotBeReadFailsTheReadAndNothingIsUnscrambledTwice) {
  WriteOwn("[DBConnexion]\r\nMySQLDBPwd=" + ScramblePassword("code") +
           "\r\n[DBKERNEL]\r\nSAPW=" + ScramblePassword("secret") + "\r\n");
  Read();
  ASSERT_EQ(value_.SC.Password, u"secret");
  log_.clear();

  std::filesystem::remove(dir_.File("ZirvoSrv.ini"));
  std::filesystem::create_directory(dir_.File("ZirvoSrv.ini"));
  EXPECT_TRUE(Read());
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_.front().rfind("Erreur lors de la lecture de la configuration - étape 1 : "
                               "Impossible de lire le fichier de paramètres " +
                                   dir_.File("ZirvoSrv.ini") + " : ",
                               0),
            0u)
      << log_.front();
  EXPECT_EQ(log_.size(), 1u) << "the markers that cannot be written say nothing more";
  EXPECT_EQ(value_.SC.Password, u"secret");
  EXPECT_EQ(value_.MySQLDBPwd, ScramblePassword("code"));
  EXPECT_EQ(value_.SqlServerConnectionString, ConnectionString(u"", u"secret"));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File("ZirvoSrv.ini"))) << "nothing written";
}

class VarnoxBranchTest : public SettingsReaderTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("sqlserver"));
    WriteOwn("[Main]\r\nUseVarnox_ini=1\r\nDebugMode=1\r\n");
  }
  void WriteVarnoxIni(const std::string& server) {
    WriteFileBytes(dir_.File("Varnox.ini"),
                   "[Database]\r\nPrivate=" + dir_.File("Priv") + "\r\nServer=" + server + "\r\n");
  }
};

TEST_F(VarnoxBranchTest, TakesTheLoginFromTheDesktopFiles) {
  WriteVarnoxIni(dir_.File("sqlserver"));  // no trailing separator
  WriteFileBytes(dir_.File("sqlserver/Varnox.ver"),
                 "[DBKERNEL]\r\nServerName=CABINET\\SQL\r\nDatabaseName=VARNOX\r\nSAPW=" +
                     ScramblePassword("pw") + "\r\n");
  EXPECT_TRUE(Read());
  EXPECT_EQ(value_.SC.ServerName, u"CABINET\\SQL");
  EXPECT_EQ(value_.SC.DatabaseName, u"VARNOX");
  EXPECT_EQ(value_.SC.UserName, u"sa");
  EXPECT_EQ(value_.SC.Password, u"pw");
  IniFile own = Own();
  EXPECT_EQ(own.ReadString("DBKERNEL", "ServerName", ""), "CABINET\\SQL");
  EXPECT_EQ(own.ReadString("DBKERNEL", "SAPW", ""), ScramblePassword("pw"));
  EXPECT_EQ(own.ReadString("DBKERNEL", "DataBaseDir", ""), dir_.File("Priv") + "/");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("Priv"))) << "this branch creates no directory";
  EXPECT_EQ(markerAtBuild_, "Leture de Varnox.ver terminée.");
  EXPECT_TRUE(Logged("DatabaseDir=" + dir_.File("Priv") + "/\r" + std::string(22, ' ') +
                     "SQLServerDir=" + dir_.File("sqlserver")));
  for (const char* line :
       {"Lecture de Varnox.ini...", "Lecture de Varnox.ini terminée.", "Lecture de Varnox.ver...",
        "SC.ServerName=CABINET\\SQL", "SC.DatabaseName=VARNOX", "SC.UserName=sa"}) {
    EXPECT_TRUE(Logged(line)) << line;
  }
  EXPECT_TRUE(Logged("SC.Password=" + ScramblePassword("pw")));
}

TEST_F(VarnoxBranchTest, BlankServerOrMissingVarnoxVerAbortsTheRun) {
  value_.SC.ServerName = u"previous";
  value_.SqlServerConnectionString = u"initial";
  WriteVarnoxIni("");
  EXPECT_FALSE(Read()) << "the caller must not use the login";
  EXPECT_TRUE(
      Logged("Le chemin de la base de données de Quenzar SQL n'est pas paramétré "
             "(SQLServerDir=[]). Abandon de la procédure."));
  EXPECT_EQ(value_.Outcome.abandonMessage, log_.back());
  EXPECT_FALSE(Own().SectionExists("Execution"));
  EXPECT_EQ(value_.SC.ServerName, u"previous");
  EXPECT_EQ(value_.SqlServerConnectionString, u"initial") << "nothing after the abort runs";

  log_.clear();
  WriteVarnoxIni(dir_.File("sqlserver"));
  EXPECT_FALSE(Read());
  EXPECT_TRUE(
      Logged("Le chemin de la base de données de Quenzar SQL n'est pas paramétré "
             "(SQLServerDir=[" +
             dir_.File("sqlserver") + "]). Abandon de la procédure."));

  // The desktop files are outside text: a control byte in them cannot forge a log line.
  log_.clear();
  WriteVarnoxIni("\x1b[2J\x08nulle part");
  EXPECT_FALSE(Read());
  EXPECT_TRUE(
      Logged("Le chemin de la base de données de Quenzar SQL n'est pas paramétré "
             "(SQLServerDir=[\\x1B[2J\\x08nulle part]). Abandon de la procédure."));
}

// The three files as Notepad may save them ("Unicode", "UTF-8") or as transfers leave
// them (line ends converted twice, lone CRs): each gives the settings of the plain file,
// through both branches, and the own file keeps its encoding through the writes of a read.
TEST_F(VarnoxBranchTest, EveryFileReadsTheSameInEachEncoding) {
  struct Form {
    const char* name;
    std::string (*save)(const std::string& plain);
  };
  static const Form kForms[] = {
      {"plain", [](const std::string& plain) { return plain; }},
      {"CR CR LF",
       [](const std::string& plain) {
         return std::regex_replace(plain, std::regex("\r\n"), "\r\r\n");
       }},
      {"CR",
       [](const std::string& plain) { return std::regex_replace(plain, std::regex("\n"), ""); }},
      {"UTF-16 LE",
       [](const std::string& plain) {
         std::string bytes = "\xFF\xFE";
         for (const char16_t c : Utf8ToUtf16(plain)) {
           bytes += static_cast<char>(c & 0xFF);
           bytes += static_cast<char>(c >> 8);
         }
         return bytes;
       }},
      {"UTF-8", [](const std::string& plain) { return "\xEF\xBB\xBF" + plain; }},
  };
  const std::string login =
      "[DBKERNEL]\r\nServerName=CABINET\\SQLÉ\r\nDatabaseName=VARNOX\r\n"
      "UserName=médecin\r\nSAPW=" +
      ScramblePassword("pw") + "\r\n";
  for (const Form& form : kForms) {
    for (const bool useVarnox : {true, false}) {
      SCOPED_TRACE(std::string(form.name) + (useVarnox ? ", Varnox.ini/.ver" : ", ZirvoSrv.ini"));
      WriteOwn(form.save("[Main]\r\nUseVarnox_ini=" + std::string(useVarnox ? "1" : "0") +
                         "\r\nDebugMode=1\r\nInterval=5\r\n" +
                         (useVarnox ? "" : login + "Private=" + dir_.File("Privé") + "\r\n")));
      WriteFileBytes(dir_.File("Varnox.ini"),
                     form.save("[Database]\r\nPrivate=" + dir_.File("Privé") +
                               "\r\nServer=" + dir_.File("sqlserver") + "\r\n"));
      WriteFileBytes(dir_.File("sqlserver/Varnox.ver"), form.save(login));
      value_ = {};
      value_.Interval = 0;

      EXPECT_TRUE(Read());
      EXPECT_TRUE(value_.DebugMode);
      EXPECT_EQ(value_.Interval, 5u);
      EXPECT_EQ(value_.SC.ServerName, u"CABINET\\SQLÉ");
      EXPECT_EQ(value_.SC.DatabaseName, u"VARNOX");
      EXPECT_EQ(value_.SC.UserName, u"médecin");
      EXPECT_EQ(value_.SC.Password, u"pw");
      EXPECT_EQ(value_.DataBaseDir, dir_.File("Privé") + "/");
      EXPECT_EQ(ReadFileBytes(dir_.File("ZirvoSrv.ini")).rfind(form.save(""), 0), 0u)
          << "mark kept";
      EXPECT_EQ(Own().ReadString("DBKERNEL", "UserName", ""), "médecin");
      EXPECT_EQ(Own().ReadInteger("Main", "Interval", 0), 5);
      EXPECT_EQ(Marker(), "LireConfiguration() terminée.");
    }
  }
}

TEST_F(SettingsReaderTest, UseVarnoxIniWithoutVarnoxIniTakesTheOwnBranchSilently) {
  WriteOwn("[Main]\r\nUseVarnox_ini=1\r\n[DBKERNEL]\r\nServerName=own\r\n");
  Read();
  EXPECT_EQ(value_.SC.ServerName, u"own");
  EXPECT_EQ(log_.size(), 1u) << "only the empty-password line";
}

}  // namespace
}  // namespace zirvo::config
