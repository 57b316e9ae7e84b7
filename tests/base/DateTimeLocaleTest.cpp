// Run by ctest under LC_ALL=fr_FR.UTF-8, C and C.UTF-8: the C conventions (a daemon
// started by systemd has no locale) give the French texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "delivery/GatewayReply.h"
#include "platform/SystemError.h"
#include "service/DiagnosticLog.h"

namespace zirvo {
namespace {

TEST(LogLineLocale, DateAndTimeFollowTheRegionalSettings) {
  const LocalDateTime at{2026, 12, 6, 16, 34, 16, 250};
  EXPECT_EQ(service::FormatLogLine(at, "Démarrage"), "06/12/2026 16:34:16 : Démarrage\r\n");
}

TEST(LogLineLocale, FirstSecondOfTheDayShowsTheDateOnly) {
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 0, 0, 0, 999}, "x"), "01/01/2027 : x\r\n")
      << "milliseconds do not count";
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 0, 0, 1, 0}, "x"), "01/01/2027 00:00:01 : x\r\n");
  EXPECT_EQ(service::FormatLogLine({2027, 1, 1, 12, 0, 0, 0}, "x"), "01/01/2027 12:00:00 : x\r\n");
  EXPECT_EQ(service::FormatLogLine({2027, 1, 13, 23, 5, 9, 0}, "x"), "13/01/2027 23:05:09 : x\r\n");
}

TEST(LogLineLocale, GatewayDatesAreReadDayFirst) {
  const auto format = delivery::CurrentRegionalDateFormat();
  EXPECT_EQ(delivery::ParseRegionalDateTime("01/12/2026 08:30:00", format, 2026),
            (LocalDateTime{2026, 12, 1, 8, 30, 0, 0}));
  EXPECT_EQ(delivery::ParseRegionalDateTime("15/03/2026", format, 2026),
            (LocalDateTime{2026, 3, 15, 0, 0, 0, 0}));
}

TEST(LogLineLocale, SystemTextsAreFrench) {
  EXPECT_EQ(platform::SystemErrorText(ENOENT), "Aucun fichier ou dossier de ce type");
  EXPECT_EQ(OSErrorMessage(ENOTDIR), "System Error.  Code: 20.\r\nN'est pas un dossier");
}

}  // namespace
}  // namespace zirvo
