#include "base/StringUtils.h"

#include <gtest/gtest.h>

namespace zirvo {
namespace {

TEST(TryStrToInt, ReadsDecimalWithOptionalSign) {
  EXPECT_EQ(TryStrToInt("3600"), 3600);
  EXPECT_EQ(TryStrToInt("+16"), 16);
  EXPECT_EQ(TryStrToInt("-5"), -5);
  EXPECT_EQ(TryStrToInt("007"), 7);
  EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(TryStrToInt("-2147483648"), INT32_MIN);
}

TEST(TryStrToInt, ReadsDollarAndZeroXHexadecimal) {
  EXPECT_EQ(TryStrToInt("0x10"), 16);
  EXPECT_EQ(TryStrToInt("0X1f"), 31);
  EXPECT_EQ(TryStrToInt("$FF"), 255);
  EXPECT_EQ(TryStrToInt("-$10"), -16);
  EXPECT_EQ(TryStrToInt("$FFFFFFFF"), -1) << "hexadecimal wraps into the signed range";
  EXPECT_EQ(TryStrToInt("0x80000000"), INT32_MIN);
}

TEST(TryStrToInt, RejectsEverythingElse) {
  for (const char* text :
       {"", "abc", "12a", " 12", "12 ", "1e3", "0x", "$", "x10", "--1", "+", "2147483648",
        "-2147483649", "$100000000", "99999999999999999999", "yes", "1.5"}) {
    EXPECT_FALSE(TryStrToInt(text).has_value()) << '"' << text << '"';
  }
  EXPECT_EQ(StrToIntDef("abc", 3600), 3600);
}

TEST(TextHelpers, TrimCompareAndUpperCaseWorkOnAsciiOnly) {
  EXPECT_EQ(TrimControl("\t\r\n  a b \x01\x1f "), "a b");
  EXPECT_EQ(TrimControl(" \x7f "), "\x7f") << "DEL is not a control character here";
  EXPECT_EQ(TrimBlanks(" \t x\r"), "x\r");
  EXPECT_TRUE(SameText("DBKernel", "dbkernel"));
  EXPECT_FALSE(SameText("Main", "Main "));
  EXPECT_EQ(UpperCase("password=été"), "PASSWORD=éTé") << "only ASCII letters change";
  EXPECT_EQ(LowerCase("Chunked, GZIP É"), "chunked, gzip É");
  EXPECT_EQ(AsciiLower(u'\u00c9'), u'\u00c9');
  EXPECT_EQ(TrimBlanks(u" \t Data Source \r"), u"Data Source \r");
  EXPECT_EQ(EscapeControlBytes(std::string("a\0b\r\nc\td\x1b[31m\x7f\x1f é\\x", 20)),
            "a\\x00b\\x0D\\x0Ac\\x09d\\x1B[31m\\x7F\\x1F é\\x")
      << "control bytes only; UTF-8 letters and backslashes stay";
}

// The one rule for every log line that shows a connection string: the settings read's
// line and the cycle's failure line show two characters of the password, the debug
// "ConnStr=[...]" line none; whatever the spelling of the key, nothing more.
TEST(MaskPassword, ShowsTheStringUpToTheKeyAndAtMostTheAskedCharacters) {
  struct Case {
    std::u16string connectionString;
    std::size_t shown;
    std::u16string expected;
    bool hasPassword;
  };
  const Case cases[] = {
      {u"Provider=MSOLEDBSQL.1;Data Source=srv;User ID=sa;Password=Geheim;", 2,
       u"Provider=MSOLEDBSQL.1;Data Source=srv;User ID=sa;Password=Ge", true},
      {u"Provider=MSOLEDBSQL.1;Data Source=srv;User ID=sa;Password=Geheim;", 0,
       u"Provider=MSOLEDBSQL.1;Data Source=srv;User ID=sa;Password=", true},
      {u"Data Source=\u00e9;PASSWORD=abc", 2, u"Data Source=\u00e9;PASSWORD=ab", true},
      {u"Data Source=x;password=a", 2, u"Data Source=x;password=a", true},
      {u"pWd=x;PassWord=;", 2, u"pWd=x;PassWord=;", true},
      {u"Data Source=passwordless;User ID=sa", 2, u"Data Source=passwordless;User ID=sa", false},
      {u"", 2, u"", false},
  };
  for (const auto& c : cases) {
    const MaskedConnectionString masked = MaskPassword(c.connectionString, c.shown);
    EXPECT_EQ(masked.shown, c.expected);
    EXPECT_EQ(masked.hasPassword, c.hasPassword);
  }
}

TEST(ChangeFileExt, ReplacesOnlyTheExtensionOfTheFileName) {
  EXPECT_EQ(ChangeFileExt("C:\\Quenzar\\ZirvoSrv.exe", ".log"), "C:\\Quenzar\\ZirvoSrv.log");
  EXPECT_EQ(ChangeFileExt("/opt/zirvo/ZirvoSrv", ".ini"), "/opt/zirvo/ZirvoSrv.ini");
  EXPECT_EQ(ChangeFileExt("/opt/zirvo.d/ZirvoSrv", ".log"), "/opt/zirvo.d/ZirvoSrv.log");
  EXPECT_EQ(ChangeFileExt("a.b.c", ".log"), "a.b.log");
}

}  // namespace
}  // namespace zirvo
