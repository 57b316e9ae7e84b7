// A gateway, a proxy or anything on the path may answer with any bytes: the reply
// reader must end in a reply or an Exception, never hand on a line that still holds its
// line feed, never make more body than arrived, and never pass a Content-Length.
#include <algorithm>
#include <cstring>

#include "base/Errors.h"
#include "fuzz/FuzzCheck.h"
#include "net/HttpMessage.h"
#include "net/HttpReply.h"

using zirvo::fuzz::Require;
namespace net = zirvo::net;

namespace {

// Hands the bytes out in reads of 1 to 16 bytes, so that lines and chunks are cut at
// every place a socket may cut them.
class SlicedSource : public net::ByteSource {
 public:
  SlicedSource(std::string_view bytes, std::uint8_t seed) : bytes_(bytes), seed_(seed) {}
  std::size_t ReadSome(char* buffer, std::size_t size) override {
    seed_ = static_cast<std::uint8_t>(seed_ * 37 + 11);
    const std::size_t take = std::min({size, bytes_.size(), std::size_t{1} + seed_ % 16});
    std::memcpy(buffer, bytes_.data(), take);
    bytes_.remove_prefix(take);
    return take;
  }

 private:
  std::string_view bytes_;
  std::uint8_t seed_;
};

bool HasLineFeed(std::string_view text) { return text.find('\n') != std::string_view::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool headRequest = (data[0] & 1) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  SlicedSource source(bytes, data[0]);
  net::ReplyReader reader(source);
  try {
    net::ReplyHead head = net::ReadReplyHead(reader);
    Require(!HasLineFeed(head.statusLine), "ligne d'état sans saut de ligne");
    Require(head.code == net::StatusCodeOf(head.statusLine), "code lu de la ligne d'état");
    if (head.code >= 0) {
      Require(net::StatusCodeOf("HTTP/1.1 " + std::to_string(head.code) + " X") == head.code,
              "code d'état relu");
    }
    const auto announced = net::ParseContentLength(head.headers.Value("Content-Length"));
    const bool chunked =
        head.headers.Value("Transfer-Encoding").find("hunked") != std::string::npos;
    const std::string body = net::ReadReplyBody(reader, head, headRequest);
    for (const auto& [name, value] : head.headers.Items()) {
      Require(!HasLineFeed(name) && !HasLineFeed(value), "en-têtes sans saut de ligne");
    }
    Require(body.size() <= bytes.size(), "pas plus de corps que d'octets reçus");
    if (announced && !chunked) Require(body.size() <= *announced, "Content-Length respecté");
  } catch (const zirvo::Exception&) {
    // A refused reply is an answer too.
  }

  // The chunk-size reader on the same bytes as one size line.
  const std::uint64_t chunk = net::ParseChunkSize(bytes.substr(0, bytes.find('\n')));
  char hex[32];
  std::snprintf(hex, sizeof hex, "%llx", static_cast<unsigned long long>(chunk));
  Require(net::ParseChunkSize(hex) == chunk, "taille de bloc relue");
  return 0;
}
