#include "net/HttpReply.h"

#include <algorithm>

#include "base/Errors.h"
#include "base/StringUtils.h"

namespace zirvo::net {

namespace {

constexpr std::size_t kReadSize = 16384;

[[noreturn]] void ThrowTooLarge() {
  throw Exception("Réponse HTTP trop volumineuse : plus de " + std::to_string(kMaxBodyBytes) +
                  " octets.");
}

// Counts the head lines of a reply against their bound.
class HeadBudget {
 public:
  void Spend(const std::string& line) {
    spent_ += line.size() + 2;
    if (spent_ > kMaxHeadBytes) {
      throw Exception("En-têtes de réponse HTTP trop volumineux : plus de " +
                      std::to_string(kMaxHeadBytes) + " octets.");
    }
  }

 private:
  std::size_t spent_ = 0;
};

void CheckBodySize(const std::string& body) {
  if (body.size() > kMaxBodyBytes) ThrowTooLarge();
}

bool ContainsChunked(std::string_view value) {
  return LowerCase(value).find("chunked") != std::string::npos;
}

}  // namespace

bool ReplyReader::Fill() {
  if (position_ > 0) {
    buffer_.erase(0, position_);
    position_ = 0;
  }
  const std::size_t old = buffer_.size();
  buffer_.resize(old + kReadSize);
  std::size_t got = 0;
  try {
    got = source_.ReadSome(buffer_.data() + old, kReadSize);
  } catch (...) {
    buffer_.resize(old);
    throw;
  }
  buffer_.resize(old + got);
  return got > 0;
}

std::optional<std::string> ReplyReader::ReadLine() {
  std::size_t searched = position_;
  for (;;) {
    const auto lineFeed = buffer_.find('\n', searched);
    if (lineFeed != std::string::npos) {
      std::size_t end = lineFeed;
      if (end > position_ && buffer_[end - 1] == '\r') --end;
      if (end - position_ > kMaxLineLength) throw Exception("Max line length exceeded.");
      std::string line = buffer_.substr(position_, end - position_);
      position_ = lineFeed + 1;
      return line;
    }
    // One character more than the limit may be the CR of a line of full length.
    if (buffer_.size() - position_ > kMaxLineLength + 1) {
      throw Exception("Max line length exceeded.");
    }
    searched = buffer_.size();
    const std::size_t consumed = position_;
    if (!Fill()) {
      if (buffer_.size() == position_) return std::nullopt;
      std::string line = buffer_.substr(position_);
      position_ = buffer_.size();
      return line;
    }
    searched -= consumed;
  }
}

bool ReplyReader::ReadBytes(std::uint64_t count, std::string& out) {
  while (count > 0) {
    if (position_ == buffer_.size() && !Fill()) return false;
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(count, buffer_.size() - position_));
    out.append(buffer_, position_, take);
    position_ += take;
    count -= take;
    CheckBodySize(out);
  }
  return true;
}

void ReplyReader::ReadToEnd(std::string& out) {
  for (;;) {
    out.append(buffer_, position_, std::string::npos);
    buffer_.clear();
    position_ = 0;
    CheckBodySize(out);
    if (!Fill()) return;
  }
}

void ReadHeaderLines(ReplyReader& reader, HeaderList& headers) {
  HeadBudget budget;
  while (auto line = reader.ReadLine()) {
    budget.Spend(*line);
    if (line->empty()) break;
    headers.AddLine(*line);
  }
}

ReplyHead ReadReplyHead(ReplyReader& reader) {
  HeadBudget budget;
  for (;;) {
    ReplyHead head;
    auto status = reader.ReadLine();
    if (!status) throw Exception("Connection Closed Gracefully.");
    budget.Spend(*status);
    head.statusLine = std::move(*status);
    head.code = StatusCodeOf(head.statusLine);
    while (auto line = reader.ReadLine()) {
      budget.Spend(*line);
      if (line->empty()) break;
      head.headers.AddLine(*line);
    }
    if (head.code != 100) return head;
  }
}

std::string ReadReplyBody(ReplyReader& reader, ReplyHead& head, bool headRequest) {
  std::string body;
  if (headRequest || head.code == 204 || head.code == 304 ||
      (head.code >= 100 && head.code < 200)) {
    return body;
  }
  if (ContainsChunked(head.headers.Value("Transfer-Encoding"))) {
    for (;;) {
      const auto sizeLine = reader.ReadLine();
      if (!sizeLine) throw Exception("Connection Closed Gracefully.");
      const std::uint64_t size = ParseChunkSize(*sizeLine);
      if (size == 0) break;
      if (size > kMaxBodyBytes - body.size()) ThrowTooLarge();
      if (!reader.ReadBytes(size, body)) throw Exception("Connection Closed Gracefully.");
      reader.ReadLine();  // the line end after the chunk's data
    }
    HeadBudget budget;
    while (auto trailer = reader.ReadLine()) {
      budget.Spend(*trailer);
      if (trailer->empty()) break;
      head.headers.AddLine(*trailer);
    }
    return body;
  }
  if (const auto length = ParseContentLength(head.headers.Value("Content-Length"))) {
    if (*length > kMaxBodyBytes) ThrowTooLarge();
    // A close before the announced length is a cut reply (a dropped line, a proxy or a
    // server that died mid-way), whatever the TLS layer said about it: the caller must
    // not take the part for the whole, or a cut report line would be written as an
    // outcome and never asked for again.
    if (!reader.ReadBytes(*length, body)) {
      // French takes the singular for 0 and 1.
      const bool oneReceived = body.size() <= 1;
      const bool oneAnnounced = *length <= 1;
      throw Exception("Connexion fermée par le serveur avant la fin de la réponse : " +
                      std::to_string(body.size()) +
                      (oneReceived ? " octet reçu" : " octets reçus") + " sur " +
                      std::to_string(*length) + (oneAnnounced ? " annoncé." : " annoncés."));
    }
    return body;
  }
  reader.ReadToEnd(body);
  return body;
}

}  // namespace zirvo::net
