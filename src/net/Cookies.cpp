#include "net/Cookies.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/CivilDate.h"
#include "base/StringUtils.h"

namespace zirvo::net {

namespace {

// A server that sets cookies without end must not make the store grow without end.
constexpr std::size_t kMaxCookies = 300;

std::string_view Trim(std::string_view text) { return TrimBlanks(text); }

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.substr(host.size() - domain.size()) == domain &&
         host[host.size() - domain.size() - 1] == '.';
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (requestPath.substr(0, cookiePath.size()) != cookiePath) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
         requestPath[cookiePath.size()] == '/';
}

std::string DefaultPath(std::string_view requestPath) {
  const auto query = requestPath.find('?');
  requestPath = requestPath.substr(0, query);
  const auto lastSlash = requestPath.rfind('/');
  if (requestPath.empty() || requestPath.front() != '/' || lastSlash == 0 ||
      lastSlash == std::string_view::npos) {
    return "/";
  }
  return std::string(requestPath.substr(0, lastSlash));
}

// The value of 1 to 6 decimal digits (the caller has checked them).
int DecimalValue(std::string_view digits) {
  int value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return value;
}

// "h:m:s" with one or two digits each, as cookie dates write the time; what follows
// the seconds, if it does not start with a digit, is ignored. Nothing for any other
// text.
std::optional<std::array<int, 3>> ParseCookieTime(std::string_view token) {
  std::array<int, 3> parts{};
  std::size_t position = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      if (position >= token.size() || token[position] != ':') return std::nullopt;
      ++position;
    }
    const std::size_t start = position;
    while (position < token.size() && position - start < 2 && token[position] >= '0' &&
           token[position] <= '9') {
      ++position;
    }
    if (position == start) return std::nullopt;
    parts[i] = DecimalValue(token.substr(start, position - start));
  }
  if (position < token.size() && token[position] >= '0' && token[position] <= '9') {
    return std::nullopt;
  }
  return parts;
}

}  // namespace

std::optional<std::chrono::system_clock::time_point> ParseCookieDate(std::string_view text) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  int day = -1, month = -1, year = -1, hour = -1, minute = -1, second = -1;
  std::size_t position = 0;
  while (position < text.size()) {
    const auto start = text.find_first_not_of(" ,-\t", position);
    if (start == std::string_view::npos) break;
    auto end = text.find_first_of(" ,-\t", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view token = text.substr(start, end - start);
    position = end;
    if (hour < 0 && token.size() >= 5 && token.find(':') != std::string_view::npos) {
      const auto time = ParseCookieTime(token);
      if (!time) return std::nullopt;
      hour = (*time)[0];
      minute = (*time)[1];
      second = (*time)[2];
    } else if (month < 0 && token.size() >= 3 &&
               std::isalpha(static_cast<unsigned char>(token[0]))) {
      const std::string prefix = LowerCase(token.substr(0, 3));
      for (int i = 0; i < 12; ++i) {
        if (prefix == kMonths[i]) month = i + 1;
      }
    } else if (!token.empty() && token.find_first_not_of("0123456789") == std::string_view::npos) {
      // Six digits at most, so the number fits whatever the server wrote.
      const int number = DecimalValue(token.substr(0, 6));
      if (day < 0 && token.size() <= 2) {
        day = number;
      } else if (year < 0) {
        year = token.size() == 2 ? (number < 70 ? 2000 + number : 1900 + number) : number;
      }
    }
  }
  if (day < 1 || day > 31 || month < 1 || year < 1601 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  // The clock counts in units whose range is 1677 to 2262 (nanoseconds on Linux): a
  // later expiry means "as long as the client lives" and an earlier one "already past";
  // both are held at the clock's ends instead of overflowing.
  using TimePoint = std::chrono::system_clock::time_point;
  static const long long kLastSecond =
      std::chrono::duration_cast<std::chrono::seconds>(TimePoint::max().time_since_epoch()).count();
  static const long long kFirstSecond =
      std::chrono::duration_cast<std::chrono::seconds>(TimePoint::min().time_since_epoch()).count();
  const long long seconds =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600LL + minute * 60LL + second;
  if (seconds >= kLastSecond) return TimePoint::max();
  if (seconds <= kFirstSecond) return TimePoint::min();
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::seconds(seconds)));
}

void CookieStore::Store(std::string_view setCookie, std::string_view host,
                        std::string_view requestPath, TimePoint now, bool secureChannel) {
  const std::string hostName = LowerCase(host);
  const auto firstSemicolon = setCookie.find(';');
  const std::string_view pair = setCookie.substr(0, firstSemicolon);
  const auto equals = pair.find('=');
  if (equals == std::string_view::npos) return;
  Cookie cookie;
  cookie.name = std::string(Trim(pair.substr(0, equals)));
  cookie.value = std::string(Trim(pair.substr(equals + 1)));
  if (cookie.name.empty()) return;
  // Sent back, a control character would end or cut the Cookie header line (a CR read as
  // a line end by the server, a NUL ending the text): such a cookie is ignored.
  const auto isControl = [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return (code < 0x20 && c != '\t') || code == 0x7f;
  };
  if (std::any_of(pair.begin(), pair.end(), isControl)) return;
  cookie.domain = hostName;
  cookie.path = DefaultPath(requestPath);
  bool removal = false;
  std::optional<long long> maxAge;

  std::size_t position = firstSemicolon;
  while (position != std::string_view::npos) {
    const auto next = setCookie.find(';', position + 1);
    const std::string_view attribute =
        setCookie.substr(position + 1, next == std::string_view::npos ? std::string_view::npos
                                                                      : next - position - 1);
    position = next;
    const auto attributeEquals = attribute.find('=');
    const std::string name = LowerCase(Trim(attribute.substr(0, attributeEquals)));
    const std::string_view value = attributeEquals == std::string_view::npos
                                       ? std::string_view()
                                       : Trim(attribute.substr(attributeEquals + 1));
    if (name == "domain" && !value.empty()) {
      std::string domain = LowerCase(value);
      if (domain.front() == '.') domain.erase(0, 1);
      if (!DomainMatches(hostName, domain)) return;
      if (domain.find('.') == std::string::npos) {
        if (domain != hostName) return;
        // The host's own one-label name: the cookie stays the host's alone.
        continue;
      }
      cookie.domain = domain;
      cookie.hostOnly = false;
    } else if (name == "path" && !value.empty() && value.front() == '/') {
      cookie.path = std::string(value);
    } else if (name == "secure") {
      cookie.secure = true;
    } else if (name == "max-age") {
      const auto number = TryStrToInt(value);
      if (number) maxAge = *number;
    } else if (name == "expires") {
      cookie.expires = ParseCookieDate(value);
    }
  }
  if (cookie.secure && !secureChannel) return;
  if (maxAge) cookie.expires = now + std::chrono::seconds(*maxAge);
  if (cookie.expires && *cookie.expires <= now) removal = true;

  std::erase_if(cookies_, [&](const Cookie& old) {
    return old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path;
  });
  std::erase_if(cookies_, [now](const Cookie& old) { return old.expires && *old.expires <= now; });
  if (removal) return;
  if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
  cookies_.push_back(std::move(cookie));
}

std::string CookieStore::HeaderFor(std::string_view host, std::string_view path, bool secure,
                                   TimePoint now) const {
  const std::string hostName = LowerCase(host);
  std::vector<const Cookie*> matching;
  for (const auto& cookie : cookies_) {
    if (cookie.expires && *cookie.expires <= now) continue;
    if (cookie.secure && !secure) continue;
    if (cookie.hostOnly ? hostName != cookie.domain : !DomainMatches(hostName, cookie.domain)) {
      continue;
    }
    if (!PathMatches(path.substr(0, path.find('?')), cookie.path)) continue;
    matching.push_back(&cookie);
  }
  std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
    return a->path.size() > b->path.size();
  });
  std::string header;
  for (const Cookie* cookie : matching) {
    if (!header.empty()) header += "; ";
    header += cookie->name + "=" + cookie->value;
  }
  return header;
}

}  // namespace zirvo::net
