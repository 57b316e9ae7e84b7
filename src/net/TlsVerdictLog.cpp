#include "net/TlsVerdictLog.h"

#include <memory>
#include <set>
#include <utility>

#include "base/StringUtils.h"

namespace zirvo::net {

std::string TlsVerdictLine(const std::string& host, const TlsPeerVerdict& verdict,
                           TlsVerification verification) {
  const std::string shownHost = EscapeControlBytes(host);
  const std::string reason = EscapeControlBytes(verdict.reason);
  // Strict mode refuses the connection itself: its error says why.
  const std::string goesOn = verification == TlsVerification::kObserve
                                 ? " ; la connexion continue (mode observation)."
                                 : ".";
  switch (verdict.outcome) {
    case TlsPeerVerdict::Outcome::kRefused:
      return "TLS : le certificat de " + shownHost + " ne serait pas accepté (" + reason + ")" +
             goesOn;
    case TlsPeerVerdict::Outcome::kUnavailable:
      return "TLS : le certificat de " + shownHost + " ne peut pas être vérifié (" + reason + ")" +
             goesOn;
    case TlsPeerVerdict::Outcome::kAccepted: {
      std::string line = "TLS : certificat de " + shownHost + " vérifié";
      if (!verdict.issuer.empty()) line += ", émis par " + EscapeControlBytes(verdict.issuer);
      if (!verdict.notAfter.empty()) line += ", valable jusqu'au " + verdict.notAfter;
      return line + ".";
    }
    case TlsPeerVerdict::Outcome::kNotChecked:
      break;
  }
  return {};
}

TlsVerdictObserver OncePerHostLog(TlsVerification verification, Log log) {
  auto named = std::make_shared<std::set<std::string>>();
  return [verification, named, log = std::move(log)](const std::string& host,
                                                     const TlsPeerVerdict& verdict) {
    const bool accepted = verdict.outcome == TlsPeerVerdict::Outcome::kAccepted;
    if (accepted && !log.Debug()) return;
    // A library that cannot check says so once, whatever the host.
    const std::string key =
        verdict.outcome == TlsPeerVerdict::Outcome::kUnavailable ? std::string() : host;
    if (!named->insert(key).second) return;
    const std::string line = TlsVerdictLine(host, verdict, verification);
    if (!line.empty()) log.Line(line);
  };
}

}  // namespace zirvo::net
