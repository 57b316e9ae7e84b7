// The delivery check: selects the sent messages whose outcome is still open, asks the
// SMS gateway for their delivery reports batch by batch and account by account, and
// writes every report line into the delivery rows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/DateTime.h"
#include "base/Errors.h"
#include "base/Log.h"
#include "db/Query.h"
#include "delivery/GatewayReply.h"
#include "net/HttpClient.h"

namespace zirvo::delivery {

inline constexpr std::string_view kResultFileName = "ZirvoSrv_result.txt";

// The debug copy of the last gateway reply: "ZirvoSrv_result.txt" in the executable's
// directory.
std::string ResultFilePath(std::string_view executablePath);

// 1 January of the year of `now`, 00:00:00.000.
LocalDateTime StartOfCurrentYear(const LocalDateTime& now);

// The selection's lower bound as a day-count serial: 365 days before StartOfCurrentYear.
double WindowStartSerial(const LocalDateTime& now);

// Everything one check works with. The references must outlive the check; nothing is
// owned. All members are used on the caller's thread only.
struct DeliveryContext {
  // The selection (MSSQL_Qry1): its text is rebuilt by every check. Left open when the
  // check ends early, closed when it ends normally.
  db::Query& selection;
  // The update (MSSQL_Qry2) on the same connection; given the update statement when it
  // holds another text.
  db::Query& update;
  // IdHTTP1: one form POST per batch.
  net::HttpClient& http;
  // "host" or "host:port" of the gateway (the GatewayHost setting).
  std::string gatewayHost;
  // Its debug switch is asked at each decision, so a settings read between two checks
  // takes effect.
  zirvo::Log log;
  // Where the debug copy of the last reply goes (ResultFilePath).
  std::string resultFilePath;
  // The service's HandleDatabaseError (required): logs the error and refreshes the state
  // report. Whatever it raises leaves the check.
  std::function<void(const Exception&)> handleDatabaseError;
  // The local clock: the window's upper bound and the year of its lower bound; empty
  // means platform::LocalNow.
  std::function<LocalDateTime()> now;
  // The regional date format reply dates are read with; nothing means the machine's
  // (CurrentRegionalDateFormat at each check).
  std::optional<RegionalDateFormat> dateFormat;
  // Raises when the service is stopping (empty: nothing stops a check). Run before each
  // batch is sent and before each reply line is written into the rows, so that nothing
  // is sent or applied once a stop is asked for; what it raises ends the check like a
  // failed request.
  std::function<void()> stopCheck;
  // What the gateway's certificate is held to during this check (the service passes
  // the GatewayTlsVerification setting); its lines are written once per host and check.
  net::TlsVerification tlsVerification = net::TlsVerification::kNone;
};

// One check, as the timer cycle runs it with the SQL Server connection open. Failures
// are handled inside and logged, except these, which leave the check: a failure to bind
// the window's upper bound, an error raised by handleDatabaseError, and an error raised
// while logging one of the check's own failures. An unusable gateway host is reported
// as a failed request ("Erreur : ..."), so a check with nothing to ask for never fails
// on it. A failed request ends the check, except a refusal of the account's credentials
// (status 401 or 403): it is logged the same way, the account's remaining batches are
// not sent, and the check goes on with the next account. Outside text that reaches the
// log (reply lines, status lines) has its control bytes written "\xNN".
void CheckDelivery(DeliveryContext& context);

// The ids one request asked for, as sent, with the blanks and control characters a reply
// id loses at both ends removed too.
using AskedIds = std::unordered_set<std::string>;
AskedIds AskedIdsOf(const std::vector<std::string>& messageIds);

// Writes one reply line into the delivery rows through context.update: nothing for a
// queued report, a line without a message id, or (when `asked` is given) an id the
// request did not ask for; otherwise the update, whose failure is logged ("Message lors
// de l'actualisation du SMS n°...") and not raised. Returns false for a line skipped
// because its id was not asked for.
bool HandleReportLine(DeliveryContext& context, const std::string& line,
                      const RegionalDateFormat& format, int referenceYear,
                      const AskedIds* asked = nullptr);

}  // namespace zirvo::delivery
