// The client's cookie store: cookies set by replies are kept for the life of the client
// and sent back to requests whose host and path they match.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zirvo::net {

struct Cookie {
  std::string name;
  std::string value;
  std::string domain;  // lower case
  bool hostOnly = true;
  std::string path;
  bool secure = false;
  std::optional<std::chrono::system_clock::time_point> expires;
};

// Not thread-safe; the client uses it from one thread.
class CookieStore {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  // Takes one Set-Cookie value received from `host` for a request to `requestPath`. A
  // cookie of the same name, domain and path is replaced; Max-Age 0 or less, or an
  // Expires date in the past, removes it. These make the cookie be ignored: a Domain
  // attribute that does not cover the host, a Domain of one label (it would cover a whole
  // top-level domain) other than the host itself, and a Secure cookie received over plain
  // HTTP (`secureChannel` false), which must not reach the requests made inside TLS.
  void Store(std::string_view setCookie, std::string_view host, std::string_view requestPath,
             TimePoint now, bool secureChannel);

  // The Cookie header value for a request ("name=value; name2=value2"), empty when no
  // cookie matches. Longer paths first.
  std::string HeaderFor(std::string_view host, std::string_view path, bool secure,
                        TimePoint now) const;

  std::size_t Size() const { return cookies_.size(); }

 private:
  std::vector<Cookie> cookies_;
};

// Reads a cookie date ("Wed, 21 Oct 2015 07:28:00 GMT" and its common variants). Pure.
std::optional<std::chrono::system_clock::time_point> ParseCookieDate(std::string_view text);

}  // namespace zirvo::net
