// Run by ctest once under LC_ALL=fr_FR.UTF-8 and once under LC_ALL=C.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "service/DiagnosticLog.h"

namespace zirvo {
namespace {

bool FrenchLocale() {
  const char* locale = std::getenv("LC_ALL");
  return locale != nullptr && std::string(locale).rfind("fr_FR", 0) == 0;
}

TEST(LogLineLocale, DateAndTimeFollowTheRegionalSettings) {
  const LocalDateTime at{2026, 12, 6, 16, 34, 16, 250};
  const std::string expected = FrenchLocale() ? "06/12/2026 16:34:16 : Démarrage\r\n"
                                              : "12/06/26 16:34:16 : Démarrage\r\n";
  EXPECT_EQ(service::FormatLogLine(at, "Démarrage"), expected);
}

TEST(LogLineLocale, FirstSecondOfTheDayShowsTheDateOnly) {
  const std::string date = FrenchLocale() ? "01/01/2027" : "01/01/27";
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 0, 0, 0, 999}, "x"), date + " : x\r\n")
      << "milliseconds do not count";
  const std::string oneSecondLater = FrenchLocale() ? "01/01/2027 00:00:01" : "01/01/27 00:00:01";
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 0, 0, 1, 0}, "x"), oneSecondLater + " : x\r\n");
  const std::string noon = FrenchLocale() ? "01/01/2027 12:00:00" : "01/01/27 12:00:00";
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 12, 0, 0, 0}, "x"), noon + " : x\r\n");
}

}  // namespace
}  // namespace zirvo
