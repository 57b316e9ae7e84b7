#include "base/Unicode.h"

#include <gtest/gtest.h>

namespace zirvo {
namespace {

TEST(Cp1252, EveryByteSurvivesTheRoundTripThroughUtf8) {
  std::string allBytes;
  for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(allBytes)), allBytes);
}

TEST(Cp1252, MapsTheWindowsSpecificRangeAndReplacesTheRest) {
  EXPECT_EQ(Cp1252ToUtf8("\x80\xE9\x9C"), "€éœ");
  EXPECT_EQ(Utf8ToCp1252("€éœ"), "\x80\xE9\x9C");
  EXPECT_EQ(Utf8ToCp1252("日本"), "??");
  EXPECT_EQ(Utf8ToCp1252("a\xFF"
                         "b"),
            "a?b")
      << "malformed UTF-8 must not pass through raw";

  char32_t refused = 0;
  EXPECT_EQ(EncodeCp1252(U"€éç\u0081ÿ", refused), "\x80\xE9\xE7\x81\xFF");
  EXPECT_EQ(refused, 0u);
  EXPECT_EQ(EncodeCp1252(U"aé日本", refused), std::nullopt) << "no '?' in place of a character";
  EXPECT_EQ(refused, U'日');
  EXPECT_EQ(EncodeCp1252(DecodeUtf8("a\xFF"), refused), std::nullopt);
  EXPECT_EQ(refused, kReplacementChar);
}

TEST(Utf8, MalformedSequencesBecomeReplacementCharacters) {
  EXPECT_EQ(DecodeUtf8("\xC3"), U"\uFFFD") << "truncated at the end";
  EXPECT_EQ(DecodeUtf8("\xC0\xAF"), U"\uFFFD\uFFFD") << "overlong";
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), U"\uFFFD\uFFFD\uFFFD") << "encoded surrogate";
  EXPECT_EQ(DecodeUtf8("\xE2\x82"
                       "A"),
            U"\uFFFD\uFFFD"
            "A");
  EXPECT_EQ(DecodeUtf8("é€😀"), U"é€😀");
}

TEST(Utf16, HandlesSurrogatePairsAndLoneSurrogates) {
  EXPECT_EQ(Utf8ToUtf16("a😀é"), u"a😀é");
  EXPECT_EQ(Utf16ToUtf8(u"a😀é"), "a😀é");
  const char16_t lone[] = {u'x', 0xD800, u'y', 0};
  EXPECT_EQ(Utf16ToUtf8(lone), "x\xEF\xBF\xBDy");
}

}  // namespace
}  // namespace zirvo
