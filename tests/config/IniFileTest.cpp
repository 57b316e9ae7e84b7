#include "config/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/Errors.h"
#include "support/TempDir.h"

namespace zirvo::config {
namespace {

using std::filesystem::perms;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(IniFile, MissingFileReadsDefaultsAndFirstWriteCreatesIt) {
  TempDir dir;
  IniFile ini(dir.File("ZirvoSrv.ini"));
  EXPECT_EQ(ini.ReadString("Main", "ZirvoServiceName", "ZirvoService"), "ZirvoService");
  EXPECT_EQ(ini.ReadInteger("Main", "Interval", 3600), 3600);
  EXPECT_FALSE(std::filesystem::exists(ini.FileName())) << "reading creates nothing";

  ini.WriteInteger("Main", "Interval", 16);
  ini.WriteBool("Main", "DebugMode", true);
  ini.WriteBool("Main", "UseVarnox_ini", false);
  EXPECT_EQ(ReadFileBytes(ini.FileName()),
            "[Main]\r\nInterval=16\r\nDebugMode=1\r\nUseVarnox_ini=0\r\n");
  EXPECT_EQ(std::filesystem::status(ini.FileName()).permissions() & perms::all,
            perms::owner_read | perms::owner_write)
      << "a new settings file holds secrets";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1)
      << "no temporary file is left behind";
}

TEST(IniFile, ExistingFileKeepsItsPermissions) {
  TempDir dir;
  const std::string path = dir.File("shared.ini");
  WriteFileBytes(path, "[Main]\n");
  std::filesystem::permissions(path, perms::owner_read | perms::owner_write | perms::group_read);
  IniFile(path).WriteString("Main", "k", "v");
  EXPECT_EQ(std::filesystem::status(path).permissions() & perms::all,
            perms::owner_read | perms::owner_write | perms::group_read);
}

TEST(IniFile, IntegersAndBooleansFollowTheSettingsRules) {
  TempDir dir;
  const std::string path = dir.File("s.ini");
  WriteFileBytes(path,
                 "[Main]\nInterval=0x10\nBad=abc\nEmpty=\nSpaced=  42  \nHex=$1F\nNeg=-5\n"
                 "DebugMode=yes\nOn=2\nQuoted=\"7\"\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("main", "interval", 3600), 16);
  EXPECT_EQ(ini.ReadInteger("Main", "Bad", 3600), 3600);
  EXPECT_EQ(ini.ReadInteger("Main", "Empty", 3600), 3600);
  EXPECT_EQ(ini.ReadInteger("Main", "Spaced", 0), 42);
  EXPECT_EQ(ini.ReadInteger("Main", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("Main", "Neg", 0), -5);
  EXPECT_EQ(ini.ReadInteger("Main", "Quoted", 0), 7);
  EXPECT_FALSE(ini.ReadBool("Main", "DebugMode", false));
  EXPECT_TRUE(ini.ReadBool("Main", "DebugMode", true)) << "unreadable text gives the default";
  EXPECT_TRUE(ini.ReadBool("Main", "On", false));
  EXPECT_EQ(ini.ReadString("Main", "Empty", "dflt"), "");
}

TEST(IniFile, FailedWritesRaiseAndLeaveTheFileUnchanged) {
  TempDir dir;
  const std::string path = dir.File("locked.ini");
  WriteFileBytes(path, "[Main]\nInterval=5\n");
  test::MakeReadOnly(path);
  IniFile ini(path);
  try {
    ini.WriteInteger("Main", "Interval", 7);
    FAIL() << "writing a read-only file must fail";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Unable to write to " + path);
  }
  EXPECT_THROW(ini.EraseSection("Main"), Exception);
  EXPECT_EQ(ReadFileBytes(path), "[Main]\nInterval=5\n");
  EXPECT_EQ(ini.ReadInteger("Main", "Interval", 0), 5) << "a read-only file still reads";

  IniFile nowhere(dir.File("missing-dir/s.ini"));
  EXPECT_THROW(nowhere.WriteString("Main", "k", "v"), Exception);
}

TEST(IniFile, AWriteThatChangesNothingLeavesTheFileAlone) {
  TempDir dir;
  const std::string path = dir.File("s.ini");
  WriteFileBytes(path, "[Main]\r\nInterval=5\r\n");
  test::MakeReadOnly(path);
  IniFile ini(path);
  EXPECT_NO_THROW(ini.WriteInteger("Main", "Interval", 5)) << "nothing to write, nothing refused";
  EXPECT_NO_THROW(ini.EraseSection("Execution"));
  std::filesystem::permissions(path, perms::owner_write, std::filesystem::perm_options::add);
  std::filesystem::create_hard_link(path, dir.File("same-file"));
  ini.WriteString("Main", "Interval", "5");
  EXPECT_EQ(std::filesystem::hard_link_count(path), 2u) << "not replaced by a copy";
  ini.DeferFlush();
  ini.WriteString("Main", "Interval", "6");
  EXPECT_EQ(std::filesystem::hard_link_count(path), 1u) << "replaced";
  EXPECT_EQ(ReadFileBytes(path), "[Main]\r\nInterval=6\r\n") << "visible before the flush";
  EXPECT_NO_THROW(ini.Flush());
}

TEST(IniFile, AFileThatCannotBeReadFailsEveryCallAndIsNeverRewritten) {
  TempDir dir;
  // A folder in the file's place cannot be read, whoever runs the test (root included).
  const std::string path = dir.File("s.ini");
  std::filesystem::create_directory(path);
  IniFile ini(path);
  try {
    ini.ReadString("Main", "Interval", "3600");
    FAIL() << "a file that cannot be read is not an empty one";
  } catch (const EInOutError& error) {
    EXPECT_EQ(
        error.Message().rfind("Impossible de lire le fichier de paramètres " + path + " : ", 0), 0u)
        << error.Message();
  }
  EXPECT_THROW(ini.ReadInteger("Main", "Interval", 3600), EInOutError);
  EXPECT_THROW(ini.SectionExists("Main"), EInOutError);
  EXPECT_THROW(ini.WriteString("Main", "Interval", "5"), EInOutError);
  EXPECT_THROW(ini.EraseSection("Main"), EInOutError);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_TRUE(std::filesystem::is_empty(path));
}

TEST(IniFile, EraseSectionRemovesItsKeysOnly) {
  TempDir dir;
  IniFile ini(dir.File("s.ini"));
  ini.WriteString("Execution", "LastMessage2", "modification de l'intervale...");
  ini.WriteString("Main", "Interval", "3600");
  ini.EraseSection("EXECUTION");
  EXPECT_FALSE(ini.SectionExists("Execution"));
  EXPECT_EQ(ini.ReadString("Execution", "LastMessage2", "absent"), "absent");
  EXPECT_EQ(ini.ReadString("Main", "Interval", ""), "3600");
  EXPECT_NO_THROW(ini.EraseSection("Execution")) << "erasing an absent section is no error";
}

}  // namespace
}  // namespace zirvo::config
