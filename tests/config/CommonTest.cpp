#include "config/Common.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zirvo::config {
namespace {

std::string Hex(unsigned char byte) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

TEST(Scrambling, EmptyTextStaysEmptyBothWays) {
  EXPECT_EQ(ScrambleBytes(""), "");
  EXPECT_EQ(UnscrambleBytes(""), "") << "empty is valid, not \"_\"";
}

TEST(Scrambling, InvalidScrambledTextGivesUnderscore) {
  EXPECT_EQ(UnscrambleBytes("ABC"), "_") << "odd length";
  EXPECT_EQ(UnscrambleBytes("0A0b"), "_") << "lower-case digit";
  EXPECT_EQ(UnscrambleBytes("ab00"), "_");
  EXPECT_EQ(UnscrambleBytes("00G0"), "_") << "beyond F";
  EXPECT_EQ(UnscrambleBytes("0 00"), "_") << "below 0";
  EXPECT_EQ(UnscrambleBytes(std::string(64, '0') + "/0"), "_") << "whatever precedes it";
}

TEST(Scrambling, SignsBetweenNineAndAReadAsZeroDigits) {
  EXPECT_EQ(UnscrambleBytes("::"), UnscrambleBytes("00"));
  EXPECT_EQ(UnscrambleBytes("@A"), UnscrambleBytes("0A"));
  EXPECT_EQ(UnscrambleBytes("1?"), UnscrambleBytes("10"));
}

TEST(Scrambling, EveryThirtySecondBytePassesUnchanged) {
  std::string plain;
  for (int i = 0; i < 100; ++i) plain += static_cast<char>(0x41 + i % 26);
  const std::string scrambled = ScrambleBytes(plain);
  ASSERT_EQ(scrambled.size(), 200u);
  for (std::size_t position = 1; position <= plain.size(); ++position) {
    const auto byte = static_cast<unsigned char>(plain[position - 1]);
    const std::string expected =
        position % 32 == 0 ? Hex(byte)
                           : Hex(static_cast<unsigned char>(byte ^ ScrambleKey[position % 32 - 1]));
    EXPECT_EQ(scrambled.substr(2 * position - 2, 2), expected) << "position " << position;
  }
}

TEST(Scrambling, RoundTripsAnyBytesAndAnyUpperCaseHexText) {
  std::string allBytes;
  for (int b = 255; b >= 0; --b) allBytes += static_cast<char>(b);
  const std::string scrambled = ScrambleBytes(allBytes);
  EXPECT_EQ(scrambled.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(UnscrambleBytes(scrambled), allBytes);
  const std::string hexText = "00FF7A9B3C80E1D2C3B4A5968778695A4B3C2D1E0F00FFEE";
  EXPECT_EQ(ScrambleBytes(UnscrambleBytes(hexText)), hexText);
}

TEST(Scrambling, PasswordsAreStoredAsWindows1252Bytes) {
  // A value the desktop application scrambled on Windows holds Windows-1252 bytes; here
  // narrow text is UTF-8, so "é€" travels as the two bytes E9 80.
  EXPECT_EQ(ScramblePassword("é€"), ScrambleBytes("\xE9\x80"));
  EXPECT_EQ(UnscramblePassword(ScrambleBytes("\xE9\x80")), "é€");
  EXPECT_EQ(UnscramblePassword("x"), "_");
}

TEST(HexToInt, ReadsDigitsOfEitherCaseAndCountsOthersAsZero) {
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("FF"), 255);
  EXPECT_EQ(HexToInt("ff"), 255);
  EXPECT_EQ(HexToInt("G1"), 1);
  EXPECT_EQ(HexToInt(":A"), 10);
  EXPECT_EQ(HexToInt("7FFFFFFF"), 0x7FFFFFFF);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
  EXPECT_EQ(HexToInt("100000001"), 1) << "wraps at 32 bits";
}

}  // namespace
}  // namespace zirvo::config

#include <sstream>

#include "config/ScrambleCommand.h"

namespace zirvo::config {
namespace {

TEST(ScrambleCommand, ScramblesOneLineFromStandardInput) {
  std::istringstream in("s3cret\r\nsecond line\n");
  std::ostringstream out, err;
  EXPECT_EQ(RunScrambleCommand(in, out, err), 0);
  EXPECT_EQ(out.str(), ScramblePassword("s3cret") + "\n");
  EXPECT_EQ(UnscramblePassword(ScramblePassword("s3cret")), "s3cret");

  std::istringstream empty;
  std::ostringstream out2, err2;
  EXPECT_EQ(RunScrambleCommand(empty, out2, err2), 1);
  EXPECT_EQ(out2.str(), "");
  EXPECT_NE(err2.str(), "");

  // Windows-1252 bytes are scrambled; a character outside it is refused, not a '?'.
  std::istringstream accented("é€\n"), refused("Łódź\n");
  std::ostringstream out3, err3, out4, err4;
  EXPECT_EQ(RunScrambleCommand(accented, out3, err3), 0);
  EXPECT_EQ(out3.str(), ScrambleBytes("\xE9\x80") + "\n");
  EXPECT_EQ(RunScrambleCommand(refused, out4, err4), 1);
  EXPECT_EQ(out4.str(), "");
  EXPECT_NE(err4.str().find("(U+0141)"), std::string::npos) << err4.str();
}

}  // namespace
}  // namespace zirvo::config
