// The operator's French lines about the gateway's certificate, and the log of one cycle
// that writes each of them once.
#pragma once

#include <string>

#include "base/Log.h"
#include "net/HttpClient.h"
#include "net/Tls.h"

namespace zirvo::net {

// The line of a verdict: a refused certificate or a library that cannot check it
// (written whatever the debug mode), an accepted one (debug mode); empty for none.
// The host and the library's texts have their control bytes written "\xNN".
std::string TlsVerdictLine(const std::string& host, const TlsPeerVerdict& verdict,
                           TlsVerification verification);

// An observer that writes the line of each host's first verdict of its life (one
// cycle): a gateway asked for many batches is named once. Accepted certificates are
// written only in debug mode at that moment.
TlsVerdictObserver OncePerHostLog(TlsVerification verification, Log log);

}  // namespace zirvo::net
