// The SMS gateway's delivery-report export as text: the form one batch posts, the reply
// cut into lines, each line read into the values of the delivery update. Everything here
// works on text only, keeps no state and may run on any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/DateTime.h"

namespace zirvo::delivery {

inline constexpr std::string_view kExportPath = "/envoi/sms/export.php";

// "https://" + host + the export path; host is "host" or "host:port" as set.
std::string GatewayExportUrl(std::string_view gatewayHost);

// The three form lines of one batch: "u=" + account, "p=" + password, "lstidmsg=" + every
// id followed by CR LF (the last one included). Values are plain (unscrambled) text; the
// HTTP client encodes them.
std::vector<std::string> BuildFormFields(std::string_view account, std::string_view password,
                                         const std::vector<std::string>& messageIds);

// The reply body as lines: CR LF, a lone CR or a lone LF ends a line, a last line without
// terminator counts, a final terminator adds no empty line, and a NUL ends the text.
std::vector<std::string> SplitReplyLines(std::string_view body);

// Field n (from 1) of a line whose fields end at each separator, with the characters of
// codes 0 to 32 removed at both ends; empty when the line has fewer than n fields.
std::string ExtractField(std::string_view line, int fieldNumber, char separator);

// The date order and separators of the regional short date and long time.
struct RegionalDateFormat {
  enum class Order { kDayMonthYear, kMonthDayYear, kYearMonthDay };
  Order order = Order::kMonthDayYear;
  char dateSeparator = '/';
  char timeSeparator = ':';
};

// Works the format out from how the regional settings write 22 November 2003 13:44:55
// (short date and long time); a text it cannot read keeps the corresponding default.
RegionalDateFormat RegionalDateFormatFromSamples(std::string_view shortDateOfSample,
                                                 std::string_view longTimeOfSample);

// The format of this machine's regional settings (platform/Clock.h), worked out anew at
// each call.
RegionalDateFormat CurrentRegionalDateFormat();

// Reads "date" or "date time": three numbers in the regional order joined by the date
// separator, then optionally blanks and hours, minutes and optional seconds (with an
// optional ".milliseconds") joined by the time separator, optionally followed by a blank
// and AM or PM. A year written with one or two digits falls in the hundred years that
// start 50 years before referenceYear. Anything else, or an impossible date or time,
// gives nothing.
std::optional<LocalDateTime> ParseRegionalDateTime(std::string_view text,
                                                   const RegionalDateFormat& format,
                                                   int referenceYear);

// What a status code of field 3 writes into the delivery rows: the delivered flag and
// the outcome text (nothing for NULL).
struct DeliveryOutcome {
  bool delivered = false;
  std::optional<std::string> message;
  bool operator==(const DeliveryOutcome&) const = default;
};

inline constexpr std::string_view kQueuedStatus = "QUEUE";

// The outcome of a status compared exactly (case-sensitive); nothing for "QUEUE", which
// leaves the message waiting. An unknown status, the empty one included, is not
// delivered and keeps the whole reply line (as received) as its outcome text.
std::optional<DeliveryOutcome> MapStatus(std::string_view status, std::string_view wholeLine);

// One reply line read for the update.
struct ReportLine {
  enum class Action {
    kUpdate,       // run the update with the values below
    kQueued,       // status "QUEUE": no update, the message is asked for again later
    kNoMessageId,  // empty first field: no update (it would touch every message without id)
  };
  Action action = Action::kUpdate;
  std::string smsId;                        // field 1
  std::optional<LocalDateTime> reportedAt;  // field 2, nothing when it cannot be read
  DeliveryOutcome outcome;                  // from field 3
};

ReportLine ReadReportLine(std::string_view line, const RegionalDateFormat& format,
                          int referenceYear);

}  // namespace zirvo::delivery
