// Set-Cookie values come from any server on the way: whatever they hold, the Cookie
// header sent back must stay one header line, the store must stay bounded, and a date
// that reads must read the same once written out again.
#include <chrono>
#include <ctime>

#include "fuzz/FuzzCheck.h"
#include "net/Cookies.h"

using zirvo::fuzz::Require;
namespace net = zirvo::net;

namespace {

bool IsOneHeaderLine(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000));
  zirvo::fuzz::Pieces pieces(data, size);
  net::CookieStore store;
  while (!pieces.Empty()) {
    const std::string_view setCookie = pieces.Next();
    store.Store(setCookie, "passerelle.example.fr", "/envoi/sms/export.php", now, size % 2 == 0);

    const auto date = net::ParseCookieDate(setCookie);
    // Dates beyond the clock's range are clamped to its ends: nothing to read back.
    using TimePoint = std::chrono::system_clock::time_point;
    if (date && *date != TimePoint::min() && *date != TimePoint::max()) {
      const std::time_t seconds = std::chrono::system_clock::to_time_t(*date);
      std::tm parts{};
      if (gmtime_r(&seconds, &parts) != nullptr && parts.tm_year + 1900 <= 9999) {
        char text[64];
        std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
        Require(net::ParseCookieDate(text) == date, "date relue à l'identique");
      }
    }
  }
  Require(store.Size() <= 300, "300 cookies au plus");
  for (const bool secure : {false, true}) {
    for (const char* path : {"/", "/envoi/sms/export.php", "/autre"}) {
      const std::string header = store.HeaderFor("passerelle.example.fr", path, secure, now);
      Require(IsOneHeaderLine(header), "en-tête Cookie sans CR, LF ni NUL");
    }
  }
  return 0;
}
