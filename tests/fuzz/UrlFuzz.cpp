// URLs come from the settings (hosts, ports) and from redirections: any text must split
// into parts that the request line and the Host header can carry.
#include "base/Errors.h"
#include "fuzz/FuzzCheck.h"
#include "net/Url.h"

using zirvo::fuzz::Require;
namespace net = zirvo::net;

namespace {

bool HasLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const net::Url url = net::ParseUrl(text);
  for (char c : url.protocol) Require(!(c >= 'A' && c <= 'Z'), "protocole en minuscules");
  Require(url.query.find('#') == std::string::npos, "fragment retiré de la requête");
  const std::string target = net::RequestTarget(url);
  Require(!target.empty() && target.front() == '/', "cible de requête commençant par /");
  if (!HasLineBreakOrNul(text)) {
    Require(!HasLineBreakOrNul(target), "pas de saut de ligne inventé");
  }
  try {
    const std::uint16_t port = net::EffectivePort(url);
    Require(port >= 1, "port de 1 à 65535");
    const std::string host = net::HostHeaderValue(url, port);
    Require(host.rfind(url.host, 0) == 0, "en-tête Host commençant par l'hôte");
    const std::string absolute = net::AbsoluteTarget(url, port);
    Require(absolute.ends_with(target), "adresse absolue finissant par la cible");
  } catch (const zirvo::Exception&) {
    // Unknown protocol without port, or a port out of range: refused with a message.
  }
  return 0;
}
