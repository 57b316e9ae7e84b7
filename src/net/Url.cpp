#include "net/Url.h"

#include "base/Errors.h"
#include "base/StringUtils.h"

namespace zirvo::net {

Url ParseUrl(std::string_view text) {
  Url url;
  const auto fragment = text.find('#');
  if (fragment != std::string_view::npos) text = text.substr(0, fragment);

  const auto scheme = text.find("://");
  std::string_view rest = text;
  if (scheme != std::string_view::npos) {
    url.protocol = LowerCase(text.substr(0, scheme));
    rest = text.substr(scheme + 3);
    const auto authorityEnd = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view() : rest.substr(authorityEnd);
    // Credentials in the authority are not a feature of this client; they must not be
    // taken for the host.
    const auto at = authority.rfind('@');
    if (at != std::string_view::npos) authority = authority.substr(at + 1);
    const auto colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
      url.host = std::string(authority.substr(0, colon));
      url.port = std::string(authority.substr(colon + 1));
    } else {
      url.host = std::string(authority);
    }
  }

  const auto question = rest.find('?');
  if (question != std::string_view::npos) {
    url.hasQuery = true;
    url.query = std::string(rest.substr(question + 1));
    rest = rest.substr(0, question);
  }
  const auto lastSlash = rest.rfind('/');
  if (lastSlash == std::string_view::npos) {
    url.path = "/";
    url.document = std::string(rest);
  } else {
    url.path = std::string(rest.substr(0, lastSlash + 1));
    url.document = std::string(rest.substr(lastSlash + 1));
  }
  if (url.path.empty() || url.path.front() != '/') url.path.insert(0, "/");
  return url;
}

std::string RequestTarget(const Url& url) {
  std::string target = url.path + url.document;
  if (url.hasQuery) target += "?" + url.query;
  return target;
}

std::uint16_t DefaultPort(std::string_view protocol) {
  if (protocol == "http") return 80;
  if (protocol == "https") return 443;
  return 0;
}

std::uint16_t EffectivePort(const Url& url) {
  if (url.port.empty()) {
    const std::uint16_t port = DefaultPort(url.protocol);
    if (port == 0) throw Exception("Unknown Protocol");
    return port;
  }
  const auto number = TryStrToInt(url.port);
  if (!number || *number < 1 || *number > 65535 ||
      url.port.find_first_not_of("0123456789") != std::string::npos) {
    throw EConvertError("Port invalide dans l'adresse : \"" + url.port + "\".");
  }
  return static_cast<std::uint16_t>(*number);
}

std::string HostHeaderValue(const Url& url, std::uint16_t port) {
  if (port == DefaultPort(url.protocol)) return url.host;
  return url.host + ":" + std::to_string(port);
}

std::string AbsoluteTarget(const Url& url, std::uint16_t port) {
  std::string result = url.protocol + "://" + url.host;
  if (port != DefaultPort(url.protocol)) result += ":" + std::to_string(port);
  return result + RequestTarget(url);
}

}  // namespace zirvo::net
