#include "delivery/GatewayReply.h"

#include <array>

#include "base/StringUtils.h"
#include "platform/Clock.h"

namespace zirvo::delivery {

std::string GatewayExportUrl(std::string_view gatewayHost) {
  return "https://" + std::string(gatewayHost) + std::string(kExportPath);
}

std::vector<std::string> BuildFormFields(std::string_view account, std::string_view password,
                                         const std::vector<std::string>& messageIds) {
  std::string ids;
  for (const auto& id : messageIds) ids += id + "\r\n";
  return {"u=" + std::string(account), "p=" + std::string(password), "lstidmsg=" + ids};
}

std::vector<std::string> SplitReplyLines(std::string_view body) {
  body = body.substr(0, body.find('\0'));
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < body.size()) {
    const std::size_t end = body.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.emplace_back(body.substr(start));
      break;
    }
    lines.emplace_back(body.substr(start, end - start));
    start = end + 1;
    if (body[end] == '\r' && start < body.size() && body[start] == '\n') ++start;
  }
  return lines;
}

std::string ExtractField(std::string_view line, int fieldNumber, char separator) {
  if (fieldNumber < 1) return {};
  std::size_t start = 0;
  for (int field = 1; field < fieldNumber; ++field) {
    const std::size_t end = line.find(separator, start);
    if (end == std::string_view::npos) return {};
    start = end + 1;
  }
  const std::size_t end = line.find(separator, start);
  return std::string(TrimControl(
      line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start)));
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The runs of digits of a text, with the character that follows each run (0 at the end).
struct DigitRun {
  std::string digits;
  char next = 0;
};

std::vector<DigitRun> DigitRuns(std::string_view text) {
  std::vector<DigitRun> runs;
  for (std::size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    DigitRun run;
    while (i < text.size() && IsDigit(text[i])) run.digits += text[i++];
    run.next = i < text.size() ? text[i] : '\0';
    runs.push_back(run);
  }
  return runs;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// A reader over the date text that never looks past its end.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}
  bool AtEnd() const { return position_ == text_.size(); }
  // Up to maxDigits digits as a number; nothing when there is no digit here.
  std::optional<int> Number(std::size_t maxDigits, std::size_t* count = nullptr) {
    std::size_t digits = 0;
    int value = 0;
    while (position_ < text_.size() && IsDigit(text_[position_]) && digits < maxDigits) {
      value = value * 10 + (text_[position_++] - '0');
      ++digits;
    }
    if (count) *count = digits;
    if (digits == 0) return std::nullopt;
    return value;
  }
  bool Take(char c) {
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }
  std::size_t SkipBlanks() {
    const std::size_t before = position_;
    while (position_ < text_.size() && text_[position_] == ' ') ++position_;
    return position_ - before;
  }
  std::string_view Rest() const { return text_.substr(position_); }
  void SkipAll() { position_ = text_.size(); }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

RegionalDateFormat RegionalDateFormatFromSamples(std::string_view shortDateOfSample,
                                                 std::string_view longTimeOfSample) {
  RegionalDateFormat format;
  const auto dateRuns = DigitRuns(shortDateOfSample);
  if (dateRuns.size() == 3) {
    std::string letters;
    for (const auto& run : dateRuns) {
      const int value = std::stoi(run.digits);
      letters += value == 22 ? 'D' : value == 11 ? 'M' : (value == 2003 || value == 3) ? 'Y' : '?';
    }
    bool known = true;
    if (letters == "DMY") {
      format.order = RegionalDateFormat::Order::kDayMonthYear;
    } else if (letters == "MDY") {
      format.order = RegionalDateFormat::Order::kMonthDayYear;
    } else if (letters == "YMD") {
      format.order = RegionalDateFormat::Order::kYearMonthDay;
    } else {
      known = false;
    }
    if (known && dateRuns[0].next != 0) format.dateSeparator = dateRuns[0].next;
  }
  const auto timeRuns = DigitRuns(longTimeOfSample);
  if (timeRuns.size() >= 2 && timeRuns[0].next != 0 && timeRuns[0].next != ' ') {
    format.timeSeparator = timeRuns[0].next;
  }
  return format;
}

RegionalDateFormat CurrentRegionalDateFormat() {
  const LocalDateTime sample{2003, 11, 22, 13, 44, 55, 0};
  return RegionalDateFormatFromSamples(platform::FormatShortDate(sample),
                                       platform::FormatLongTime(sample));
}

std::optional<LocalDateTime> ParseRegionalDateTime(std::string_view text,
                                                   const RegionalDateFormat& format,
                                                   int referenceYear) {
  Scanner scan(text);
  std::array<int, 3> parts{};
  std::array<std::size_t, 3> widths{};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 && !scan.Take(format.dateSeparator)) return std::nullopt;
    const auto number = scan.Number(4, &widths[i]);
    if (!number) return std::nullopt;
    parts[i] = *number;
  }
  using Order = RegionalDateFormat::Order;
  const std::size_t yearAt = format.order == Order::kYearMonthDay ? 0 : 2;
  const std::size_t monthAt = format.order == Order::kMonthDayYear ? 0 : 1;
  const std::size_t dayAt = format.order == Order::kDayMonthYear   ? 0
                            : format.order == Order::kMonthDayYear ? 1
                                                                   : 2;
  LocalDateTime value;
  value.year = parts[yearAt];
  value.month = parts[monthAt];
  value.day = parts[dayAt];
  value.hour = value.minute = value.second = value.millisecond = 0;
  if (widths[yearAt] <= 2) {
    const int pivot = referenceYear - 50;
    value.year += pivot / 100 * 100;
    if (value.year < pivot) value.year += 100;
  }
  if (value.year < 1 || value.year > 9999 || value.month < 1 || value.month > 12 || value.day < 1 ||
      value.day > DaysInMonth(value.year, value.month)) {
    return std::nullopt;
  }

  if (scan.AtEnd()) return value;
  if (scan.SkipBlanks() == 0) return std::nullopt;
  const auto hour = scan.Number(2);
  if (!hour || !scan.Take(format.timeSeparator)) return std::nullopt;
  const auto minute = scan.Number(2);
  if (!minute) return std::nullopt;
  int second = 0;
  int millisecond = 0;
  if (scan.Take(format.timeSeparator)) {
    const auto seconds = scan.Number(2);
    if (!seconds) return std::nullopt;
    second = *seconds;
    if (scan.Take('.')) {
      std::size_t digits = 0;
      const auto fraction = scan.Number(3, &digits);
      if (!fraction) return std::nullopt;
      millisecond = *fraction * (digits == 1 ? 100 : digits == 2 ? 10 : 1);
    }
  }
  int hours = *hour;
  if (scan.SkipBlanks() > 0 && !scan.AtEnd()) {
    const std::string marker = UpperCase(scan.Rest());
    if (marker != "AM" && marker != "PM") return std::nullopt;
    if (hours < 1 || hours > 12) return std::nullopt;
    hours = hours % 12 + (marker == "PM" ? 12 : 0);
    scan.SkipAll();
  }
  if (!scan.AtEnd() || hours > 23 || *minute > 59 || second > 59) return std::nullopt;
  value.hour = hours;
  value.minute = *minute;
  value.second = second;
  value.millisecond = millisecond;
  return value;
}

std::optional<DeliveryOutcome> MapStatus(std::string_view status, std::string_view wholeLine) {
  struct Row {
    std::string_view status;
    bool delivered;
    std::optional<std::string_view> message;
  };
  static constexpr std::array<Row, 9> kTable = {{
      {"DELIVRD", true, std::nullopt},
      {"REPONDEUR", true, "Message volcalisé sur répondeur"},
      {"SYNTH", true, "Message volcalisé"},
      {"REEMIS", true, "message réémis par l'interface extranet"},
      {"UNDELIV", false, "Message non livré par l'opérateur"},
      {"FAILED", false, "Aucune notification de l'opérateur (message probablement livré)"},
      {"INVALID", false, "Numéro de destinataire invalide"},
      {"INTERDIT", false, "Le numéro destinataire est interdit"},
      {"NONREP", false, "Pas de réponse du correspondant"},
  }};
  if (status == kQueuedStatus) return std::nullopt;
  for (const auto& row : kTable) {
    if (row.status == status) {
      DeliveryOutcome outcome{row.delivered, std::nullopt};
      if (row.message) outcome.message = std::string(*row.message);
      return outcome;
    }
  }
  return DeliveryOutcome{false, std::string(wholeLine)};
}

ReportLine ReadReportLine(std::string_view line, const RegionalDateFormat& format,
                          int referenceYear) {
  ReportLine report;
  report.smsId = ExtractField(line, 1, '|');
  report.reportedAt = ParseRegionalDateTime(ExtractField(line, 2, '|'), format, referenceYear);
  const auto outcome = MapStatus(ExtractField(line, 3, '|'), line);
  if (!outcome) {
    report.action = ReportLine::Action::kQueued;
  } else {
    report.outcome = *outcome;
    report.action =
        report.smsId.empty() ? ReportLine::Action::kNoMessageId : ReportLine::Action::kUpdate;
  }
  return report;
}

}  // namespace zirvo::delivery
