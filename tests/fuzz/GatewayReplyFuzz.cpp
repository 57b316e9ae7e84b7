// The gateway's reply decides which delivery rows are written: whatever it holds, a
// line handed on holds no line break or NUL, a line without a message id never updates
// rows, and a date that reads is a real date that reads the same once written again.
#include <cstdio>

#include "delivery/GatewayReply.h"
#include "fuzz/FuzzCheck.h"

using zirvo::fuzz::Require;
namespace delivery = zirvo::delivery;

namespace {

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool IsEdge(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Written(const zirvo::LocalDateTime& at, const delivery::RegionalDateFormat& format) {
  int first = at.day, second = at.month, third = at.year;
  if (format.order == delivery::RegionalDateFormat::Order::kMonthDayYear) {
    first = at.month;
    second = at.day;
  } else if (format.order == delivery::RegionalDateFormat::Order::kYearMonthDay) {
    first = at.year;
    third = at.day;
  }
  // The year with four digits wherever it stands, so that it is read as written.
  const bool yearFirst = format.order == delivery::RegionalDateFormat::Order::kYearMonthDay;
  char text[80];
  std::snprintf(text, sizeof text,
                yearFirst ? "%04d%c%02d%c%02d %02d%c%02d%c%02d.%03d"
                          : "%02d%c%02d%c%04d %02d%c%02d%c%02d.%03d",
                first, format.dateSeparator, second, format.dateSeparator, third, at.hour,
                format.timeSeparator, at.minute, format.timeSeparator, at.second, at.millisecond);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  delivery::RegionalDateFormat format;
  format.order = static_cast<delivery::RegionalDateFormat::Order>(data[0] % 3);
  format.dateSeparator = (data[0] & 4) != 0 ? '.' : '/';
  format.timeSeparator = (data[0] & 8) != 0 ? '.' : ':';
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

  for (const std::string& line : delivery::SplitReplyLines(body)) {
    Require(!HasLineBreakOrNul(line), "ligne de réponse sans CR, LF ni NUL");
    const delivery::ReportLine report = delivery::ReadReportLine(line, format, 2026);
    if (report.action == delivery::ReportLine::Action::kUpdate) {
      Require(!report.smsId.empty(), "jamais de mise à jour sans numéro de message");
      Require(!IsEdge(report.smsId.front()) && !IsEdge(report.smsId.back()),
              "numéro de message sans blancs autour");
    }
    if (report.smsId.empty()) {
      Require(report.action != delivery::ReportLine::Action::kUpdate, "id vide jamais mis à jour");
    }
    if (report.outcome.message) {
      Require(!HasLineBreakOrNul(*report.outcome.message), "message sans saut de ligne");
    }
    if (const auto& at = report.reportedAt) {
      Require(at->month >= 1 && at->month <= 12 && at->day >= 1 && at->day <= 31 &&
                  at->hour <= 23 && at->minute <= 59 && at->second <= 59 &&
                  at->millisecond <= 999 && at->year >= 1 && at->year <= 9999,
              "date de rapport valide");
      // Years of one or two digits are placed near the reference year; four digits are
      // read as written.
      Require(delivery::ParseRegionalDateTime(Written(*at, format), format, 2026) == at,
              "date de rapport relue à l'identique");
    }
  }
  return 0;
}
