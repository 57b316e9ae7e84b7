#include "delivery/DeliveryCheck.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/StringUtils.h"
#include "config/Common.h"
#include "db/DateSerial.h"
#include "db/Statements.h"
#include "delivery/Batching.h"
#include "net/TlsVerdictLog.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/SystemError.h"

namespace zirvo::delivery {

std::string ResultFilePath(std::string_view executablePath) {
  return ExtractFilePath(executablePath) + std::string(kResultFileName);
}

LocalDateTime StartOfCurrentYear(const LocalDateTime& now) {
  return LocalDateTime{now.year, 1, 1, 0, 0, 0, 0};
}

double WindowStartSerial(const LocalDateTime& now) {
  return db::DateTimeToSerial(StartOfCurrentYear(now)) - 365.0;
}

namespace {

constexpr std::string_view kWindowStartFailure =
    "CheckDelivery : erreur lors du paramétrage de la date de début de recherche : ";

void PrepareSelection(db::Query& selection) {
  selection.Close();
  selection.ClearLines();
  for (const auto line : db::kSelectionLines) selection.AddLine(std::string(line));
  // The batch cut reads these three fields only; the rest of each row is not kept.
  selection.KeepOnlyFields({"MEMBER_ID", "PASSWORD", "SMS_ID"});
}

// The update keeps its text between checks; it is set only when the query holds
// something else, so a caller that built it once pays nothing.
void PrepareUpdate(db::Query& update) {
  std::string expected;
  for (const auto line : db::kUpdateLines) expected += std::string(line) + "\r\n";
  if (update.Text() == expected) return;
  update.ClearLines();
  for (const auto line : db::kUpdateLines) update.AddLine(std::string(line));
}

// The update runs once per reply line: it is prepared once for the whole check and
// freed when the check ends, however it ends.
class PreparedUpdate {
 public:
  explicit PreparedUpdate(db::Query& update) : update_(update) { update_.SetKeepPrepared(true); }
  ~PreparedUpdate() { update_.SetKeepPrepared(false); }
  PreparedUpdate(const PreparedUpdate&) = delete;
  PreparedUpdate& operator=(const PreparedUpdate&) = delete;

 private:
  db::Query& update_;
};

void WriteResultFile(const std::string& path, const std::vector<std::string>& lines) {
  std::string content;
  for (const auto& line : lines) content += line + "\r\n";
  const int error = platform::ReplaceFileContents(path, content);
  if (error != 0) {
    throw EInOutError("Impossible d'écrire le fichier de résultat " + platform::PathToText(path) +
                          " : " + platform::SystemErrorText(static_cast<std::uint32_t>(error)),
                      error);
  }
}

class Check {
 public:
  explicit Check(DeliveryContext& context)
      : context_(context),
        now_(context.now ? context.now() : platform::LocalNow()),
        format_(context.dateFormat ? *context.dateFormat : CurrentRegionalDateFormat()) {}

  void Run() {
    context_.http.SetTlsVerification(context_.tlsVerification,
                                     net::OncePerHostLog(context_.tlsVerification, context_.log));
    db::Query& selection = context_.selection;
    PrepareSelection(selection);
    BindWindowStart();
    // A failure here is left to the timer cycle: the window cannot be built at all.
    selection.ParamByName("datefin").SetDateTime(now_);

    try {
      selection.Open();
    } catch (const Exception& error) {
      context_.handleDatabaseError(error);
      return;
    }
    const long count = selection.RecordCount();
    if (context_.log.Debug())
      Log("CheckDelivery : nombre de SMS à vérifier : " + std::to_string(count));
    if (count == 0) return;
    if (count < 0) {
      selection.Close();
      return;
    }

    try {
      PrepareUpdate(context_.update);
      PreparedUpdate prepared(context_.update);
      ForEachBatch(selection, [this](const Batch& batch) { Send(batch); });
    } catch (const Exception& error) {
      Log("Erreur : " + error.Message());
      return;
    }
    selection.Close();
  }

 private:
  void Log(const std::string& message) const { context_.log.Line(message); }

  void BindWindowStart() {
    db::Query& selection = context_.selection;
    try {
      const double serial = WindowStartSerial(now_);
      selection.ParamByName("datedebut").SetDaySerial(serial);
      if (context_.log.Debug()) {
        Log("CheckDelivery : paramétrage de la date de début de recherche à " +
            DateTimeToStr(db::SerialToDateTime(serial)));
      }
    } catch (const Exception& error) {
      Log(std::string(kWindowStartFailure) + error.Message() + "\r" + selection.Text());
    }
  }

  void Send(const Batch& batch) {
    if (refusedAccount_ && refusedAccount_->first == batch.memberId &&
        refusedAccount_->second == batch.password) {
      return;
    }
    StopCheck();
    ++requestNumber_;
    if (context_.log.Debug()) {
      Log("Exécution de la recherche n°" + std::to_string(requestNumber_) +
          " à partir du message n°" + batch.messageIds.front());
    }
    if (TrimControl(context_.gatewayHost).empty()) {
      throw Exception(
          "aucun hôte de passerelle SMS n'est configuré (clé GatewayHost de la section "
          "Endpoints)");
    }
    const auto fields =
        BuildFormFields(config::UnscramblePassword(batch.memberId),
                        config::UnscramblePassword(batch.password), batch.messageIds);
    std::string reply;
    try {
      reply = context_.http.HttpPostForm(GatewayExportUrl(context_.gatewayHost), fields);
    } catch (const HttpProtocolError& error) {
      // Refused credentials concern this account only: its other batches would be
      // refused too, and the accounts after it must not wait for it for good.
      if (error.Code() != 401 && error.Code() != 403) throw;
      Log("Erreur : " + error.Message());
      refusedAccount_ = {batch.memberId, batch.password};
      return;
    }
    const auto lines = SplitReplyLines(reply);
    if (context_.log.Debug()) {
      Log("Response : " + std::to_string(lines.size()) + " lignes");
      WriteResultFile(context_.resultFilePath, lines);
    }
    // The update is keyed by the id alone: a line for an id this request did not ask for
    // (a faulty or forged reply) could otherwise reach any message, of any provider.
    const AskedIds asked = AskedIdsOf(batch.messageIds);
    long skipped = 0;
    for (const auto& line : lines) {
      StopCheck();
      if (!HandleReportLine(context_, line, format_, now_.year, &asked)) ++skipped;
    }
    if (skipped > 0 && context_.log.Debug()) {
      Log("CheckDelivery : " +
          (skipped == 1 ? std::string("1 ligne de réponse ignorée (numéro de message absent")
                        : std::to_string(skipped) +
                              " lignes de réponse ignorées (numéros de message absents") +
          " de la demande)");
    }
  }

  void StopCheck() const {
    if (context_.stopCheck) context_.stopCheck();
  }

  DeliveryContext& context_;
  LocalDateTime now_;
  RegionalDateFormat format_;
  int requestNumber_ = 0;
  // The account (MEMBER_ID, PASSWORD as stored) whose credentials the gateway refused.
  std::optional<std::pair<std::string, std::string>> refusedAccount_;
};

}  // namespace

AskedIds AskedIdsOf(const std::vector<std::string>& messageIds) {
  AskedIds asked;
  for (const auto& id : messageIds) asked.emplace(TrimControl(id));
  return asked;
}

bool HandleReportLine(DeliveryContext& context, const std::string& line,
                      const RegionalDateFormat& format, int referenceYear, const AskedIds* asked) {
  const ReportLine report = ReadReportLine(line, format, referenceYear);
  if (report.action == ReportLine::Action::kQueued) return true;
  if (report.action == ReportLine::Action::kNoMessageId) {
    if (context.log.Debug()) {
      context.log.Line("CheckDelivery : ligne de réponse sans numéro de message ignorée : " +
                       EscapeControlBytes(line));
    }
    return true;
  }
  if (asked != nullptr && asked->count(report.smsId) == 0) return false;
  try {
    db::Query& update = context.update;
    update.ParamByName("delivered").SetBoolean(report.outcome.delivered);
    if (report.reportedAt) {
      update.ParamByName("delivered_date_time").SetDateTime(*report.reportedAt);
    } else {
      update.ParamByName("delivered_date_time").SetNull();
    }
    if (report.outcome.message) {
      update.ParamByName("delivered_message").SetText(*report.outcome.message);
    } else {
      update.ParamByName("delivered_message").SetNull();
    }
    update.ParamByName("sms_id").SetText(report.smsId);
    update.Execute();
  } catch (const Exception& error) {
    context.log.Line("Message lors de l'actualisation du SMS n°" +
                     EscapeControlBytes(report.smsId) + " : " + EscapeControlBytes(line) +
                     error.Message());
  }
  return true;
}

void CheckDelivery(DeliveryContext& context) { Check(context).Run(); }

}  // namespace zirvo::delivery
