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
  for (const char* text : {"", "abc", "12a", " 12", "12 ", "1e3", "0x", "$", "x10", "--1", "+",
                           "2147483648", "-2147483649", "$100000000", "99999999999999999999",
                           "yes", "1.5"}) {
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
  EXPECT_EQ(EscapeControlBytes(std::string("a\0b\r\nc\td\x1b[31m\x7f\x1f é\\x", 20)),
            "a\\x00b\\x0D\\x0Ac\\x09d\\x1B[31m\\x7F\\x1F é\\x")
      << "control bytes only; UTF-8 letters and backslashes stay";
}

TEST(ChangeFileExt, ReplacesOnlyTheExtensionOfTheFileName) {
  EXPECT_EQ(ChangeFileExt("C:\\Quenzar\\ZirvoSrv.exe", ".log"), "C:\\Quenzar\\ZirvoSrv.log");
  EXPECT_EQ(ChangeFileExt("/opt/zirvo/ZirvoSrv", ".ini"), "/opt/zirvo/ZirvoSrv.ini");
  EXPECT_EQ(ChangeFileExt("/opt/zirvo.d/ZirvoSrv", ".log"), "/opt/zirvo.d/ZirvoSrv.log");
  EXPECT_EQ(ChangeFileExt("a.b.c", ".log"), "a.b.log");
}

}  // namespace
}  // namespace zirvo
