// The gateway exchange as text: the form of one batch, reply lines, fields, report dates
// under the regional conventions, and the status table.
#include <gtest/gtest.h>

#include "delivery/GatewayReply.h"

namespace zirvo::delivery {
namespace {

using Lines = std::vector<std::string>;
using Order = RegionalDateFormat::Order;

const RegionalDateFormat kFrench{Order::kDayMonthYear, '/', ':'};

TEST(GatewayForm, FieldsAndUrlCarryTheAccountAndEveryIdWithItsLineEnd) {
  EXPECT_EQ(BuildFormFields("acc", "pw", {"101", "102", "101"}),
            (Lines{"u=acc", "p=pw", "lstidmsg=101\r\n102\r\n101\r\n"}))
      << "ids in selection order, duplicates kept, the last one followed by CR LF too";
  EXPECT_EQ(BuildFormFields("_", "", {"7"}), (Lines{"u=_", "p=", "lstidmsg=7\r\n"}));
  EXPECT_EQ(GatewayExportUrl("sms.example:8443"), "https://sms.example:8443/envoi/sms/export.php");
}

TEST(ReplyLines, EveryLineEndCountsOnceAndNulEndsTheText) {
  EXPECT_EQ(SplitReplyLines(""), Lines{});
  EXPECT_EQ(SplitReplyLines("a\r\nb\r\n"), (Lines{"a", "b"})) << "no empty line after the end";
  EXPECT_EQ(SplitReplyLines("a\rb\nc"), (Lines{"a", "b", "c"}))
      << "lone CR and LF end lines; a last line without terminator counts";
  EXPECT_EQ(SplitReplyLines("a\n\r\nb"), (Lines{"a", "", "b"})) << "LF then CR LF: an empty line";
  EXPECT_EQ(SplitReplyLines("a\n\rb"), (Lines{"a", "", "b"})) << "LF CR is two line ends";
  EXPECT_EQ(SplitReplyLines("\r\n"), Lines{""});
  EXPECT_EQ(SplitReplyLines(std::string("a\r\nb\0c\r\nd", 9)), (Lines{"a", "b"}));
}

TEST(ReplyFields, FieldsAreTrimmedOfControlsAndMissingOnesAreEmpty) {
  EXPECT_EQ(ExtractField("102 | |UNDELIV |x", 1, '|'), "102");
  EXPECT_EQ(ExtractField("102 | |UNDELIV |x", 2, '|'), "");
  EXPECT_EQ(ExtractField("102 | |UNDELIV |x", 3, '|'), "UNDELIV");
  EXPECT_EQ(ExtractField("102 | |UNDELIV |x", 4, '|'), "x");
  EXPECT_EQ(ExtractField("102 | |UNDELIV |x", 5, '|'), "");
  EXPECT_EQ(ExtractField("a||c", 2, '|'), "") << "two separators make an empty field";
  EXPECT_EQ(ExtractField("a||c", 3, '|'), "c");
  EXPECT_EQ(ExtractField("\t Erreur de connexion \x01", 1, '|'), "Erreur de connexion");
  EXPECT_EQ(ExtractField("Erreur", 2, '|'), "");
  EXPECT_EQ(ExtractField("a|b", 0, '|'), "");
  EXPECT_EQ(ExtractField("\xc3\xa9t\xc3\xa9|x", 1, '|'), "\xc3\xa9t\xc3\xa9")
      << "bytes above 127 are not controls";
}

TEST(RegionalFormat, OrderAndSeparatorsComeFromTheSampleTexts) {
  const auto french = RegionalDateFormatFromSamples("22/11/2003", "13:44:55");
  EXPECT_EQ(french.order, Order::kDayMonthYear);
  EXPECT_EQ(french.dateSeparator, '/');
  EXPECT_EQ(french.timeSeparator, ':');
  const auto c = RegionalDateFormatFromSamples("11/22/03", "13:44:55");
  EXPECT_EQ(c.order, Order::kMonthDayYear);
  const auto german = RegionalDateFormatFromSamples("22.11.2003", "13.44.55");
  EXPECT_EQ(german.order, Order::kDayMonthYear);
  EXPECT_EQ(german.dateSeparator, '.');
  EXPECT_EQ(german.timeSeparator, '.');
  const auto iso = RegionalDateFormatFromSamples("2003-11-22", "1:44:55 PM");
  EXPECT_EQ(iso.order, Order::kYearMonthDay);
  EXPECT_EQ(iso.dateSeparator, '-');
  const auto unreadable = RegionalDateFormatFromSamples("samedi 22 novembre", "");
  EXPECT_EQ(unreadable.order, Order::kMonthDayYear);
  EXPECT_EQ(unreadable.dateSeparator, '/');
  EXPECT_EQ(unreadable.timeSeparator, ':');
}

TEST(ReportDates, RegionalDatesAndTimesAreReadAndAnythingElseGivesNothing) {
  using D = LocalDateTime;
  EXPECT_EQ(ParseRegionalDateTime("15/03/2025 10:20:30", kFrench, 2026),
            (D{2025, 3, 15, 10, 20, 30, 0}));
  EXPECT_EQ(ParseRegionalDateTime("15/03/2025", kFrench, 2026), (D{2025, 3, 15, 0, 0, 0, 0}));
  EXPECT_EQ(ParseRegionalDateTime("5/3/2025  7:05", kFrench, 2026), (D{2025, 3, 5, 7, 5, 0, 0}));
  EXPECT_EQ(ParseRegionalDateTime("15/03/2025 10:20:30.25", kFrench, 2026),
            (D{2025, 3, 15, 10, 20, 30, 250}));
  EXPECT_EQ(ParseRegionalDateTime("03/15/2025 10:20:30 PM",
                                  RegionalDateFormat{Order::kMonthDayYear, '/', ':'}, 2026),
            (D{2025, 3, 15, 22, 20, 30, 0}));
  EXPECT_EQ(ParseRegionalDateTime("2025-03-15 12:00 am",
                                  RegionalDateFormat{Order::kYearMonthDay, '-', ':'}, 2026),
            (D{2025, 3, 15, 0, 0, 0, 0}));
  EXPECT_EQ(ParseRegionalDateTime("29/02/2024", kFrench, 2026), (D{2024, 2, 29, 0, 0, 0, 0}));
  // Two-digit years fall within the hundred years starting 50 years back.
  EXPECT_EQ(ParseRegionalDateTime("01/01/25", kFrench, 2026)->year, 2025);
  EXPECT_EQ(ParseRegionalDateTime("01/01/80", kFrench, 2026)->year, 1980);
  EXPECT_EQ(ParseRegionalDateTime("01/01/76", kFrench, 2026)->year, 1976);
  EXPECT_EQ(ParseRegionalDateTime("01/01/75", kFrench, 2026)->year, 2075);

  for (const char* bad :
       {"", "2025-03-15 10:20:30", "15/03", "15/03/2025 10", "15/03/2025 25:00", "15/03/2025 10:60",
        "15/03/2025 10:20:61", "31/04/2025", "29/02/2025", "00/01/2025", "15/13/2025",
        "15/03/2025T10:20", "15/03/2025 10:20 XM", "15/03/2025 13:00 PM",
        "15/03/2025 10:20:30 extra", "15/03/2025x", "1503/2025", "15/03/0000"}) {
    EXPECT_EQ(ParseRegionalDateTime(bad, kFrench, 2026), std::nullopt) << bad;
  }
}

TEST(StatusTable, EveryCodeGivesItsFlagAndTextAndUnknownCodesKeepTheLine) {
  const std::string line = "9|x|CODE";
  struct Case {
    const char* status;
    bool delivered;
    std::optional<std::string> message;
  };
  const Case cases[] = {
      {"DELIVRD", true, std::nullopt},
      {"REPONDEUR", true, "Message volcalisé sur répondeur"},
      {"SYNTH", true, "Message volcalisé"},
      {"REEMIS", true, "message réémis par l'interface extranet"},
      {"UNDELIV", false, "Message non livré par l'opérateur"},
      {"FAILED", false, "Aucune notification de l'opérateur (message probablement livré)"},
      {"INVALID", false, "Numéro de destinataire invalide"},
      {"INTERDIT", false, "Le numéro destinataire est interdit"},
      {"NONREP", false, "Pas de réponse du correspondant"},
      {"delivrd", false, line},
      {"DELIVRD ", false, line},
      {"", false, line},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MapStatus(c.status, line), (DeliveryOutcome{c.delivered, c.message})) << c.status;
  }
  EXPECT_EQ(MapStatus("QUEUE", line), std::nullopt);
  EXPECT_EQ(MapStatus("queue", line), (DeliveryOutcome{false, line}));
}

TEST(ReportLines, LinesOfEveryShapeBecomeTheirUpdateOrNone) {
  const auto delivered = ReadReportLine("101|15/03/2025 10:20:30|DELIVRD", kFrench, 2026);
  EXPECT_EQ(delivered.action, ReportLine::Action::kUpdate);
  EXPECT_EQ(delivered.smsId, "101");
  EXPECT_EQ(delivered.reportedAt, (LocalDateTime{2025, 3, 15, 10, 20, 30, 0}));
  EXPECT_EQ(delivered.outcome, (DeliveryOutcome{true, std::nullopt}));

  const auto blanks = ReadReportLine("102 | |UNDELIV |x", kFrench, 2026);
  EXPECT_EQ(blanks.smsId, "102");
  EXPECT_EQ(blanks.reportedAt, std::nullopt);
  EXPECT_EQ(blanks.outcome, (DeliveryOutcome{false, "Message non livré par l'opérateur"}));

  const auto lowerCase = ReadReportLine("103|15/03/2025 10:20:30|delivrd", kFrench, 2026);
  EXPECT_EQ(lowerCase.outcome, (DeliveryOutcome{false, "103|15/03/2025 10:20:30|delivrd"}));
  EXPECT_TRUE(lowerCase.reportedAt.has_value()) << "the date is read whatever the status";

  EXPECT_EQ(ReadReportLine("104|15/03/2025 10:20:30|QUEUE", kFrench, 2026).action,
            ReportLine::Action::kQueued);

  const auto errorText = ReadReportLine(" Erreur : compte inconnu ", kFrench, 2026);
  EXPECT_EQ(errorText.action, ReportLine::Action::kUpdate);
  EXPECT_EQ(errorText.smsId, "Erreur : compte inconnu");
  EXPECT_EQ(errorText.reportedAt, std::nullopt);
  EXPECT_EQ(errorText.outcome, (DeliveryOutcome{false, " Erreur : compte inconnu "}))
      << "the whole line as received, not trimmed";

  EXPECT_EQ(ReadReportLine("", kFrench, 2026).action, ReportLine::Action::kNoMessageId);
  EXPECT_EQ(ReadReportLine(" |15/03/2025|DELIVRD", kFrench, 2026).action,
            ReportLine::Action::kNoMessageId);
}

}  // namespace
}  // namespace zirvo::delivery
