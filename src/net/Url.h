// URLs as the HTTP client reads them: protocol, host, port, path, document and query.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zirvo::net {

struct Url {
  std::string protocol;  // lower case: "http", "https" or another name; empty when absent
  std::string host;
  std::string port;      // as written; empty when absent
  std::string path;      // from the first "/" up to the last "/", both included
  std::string document;  // after the last "/" of the path
  std::string query;     // after "?", without it; the fragment after "#" is dropped
  bool hasQuery = false;
};

// Splits a URL into its parts. The text is taken as it is: nothing is percent-encoded or
// decoded. Pure.
Url ParseUrl(std::string_view text);

// The text after the host on a request line: path + document, then "?" + query when
// the URL has one. A URL without a path gives "/".
std::string RequestTarget(const Url& url);

// 80 for "http", 443 for "https", 0 for any other protocol.
std::uint16_t DefaultPort(std::string_view protocol);

// The port a connection uses: the written one, or the protocol's default. Raises
// Exception("Unknown Protocol") for another protocol without a port, and EConvertError
// with a French message for a port that is not a number from 1 to 65535.
std::uint16_t EffectivePort(const Url& url);

// The Host header value: the host alone when the port is the protocol's default,
// otherwise host + ":" + port.
std::string HostHeaderValue(const Url& url, std::uint16_t port);

// The absolute form sent to a proxy: protocol + "://" + host (+ ":" + port when not the
// default) + the request target.
std::string AbsoluteTarget(const Url& url, std::uint16_t port);

}  // namespace zirvo::net
