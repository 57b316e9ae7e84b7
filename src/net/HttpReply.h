// Reading an HTTP reply from a stream of bytes: status line, header lines, body framing.
// The source is an interface so that replies are read the same from a socket, a TLS
// session or a text in a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/HttpMessage.h"

namespace zirvo::net {

inline constexpr std::size_t kMaxLineLength = 16384;
// No reply of the two servers comes near this; it keeps a runaway peer from eating the
// machine's memory.
inline constexpr std::uint64_t kMaxBodyBytes = 64ull * 1024 * 1024;
// Status lines and header lines of one reply (continue replies and trailers included).
inline constexpr std::size_t kMaxHeadBytes = std::size_t{1024} * 1024;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads between 1 and `size` bytes, or returns 0 when the peer has closed the
  // connection. Raises Exception on a failure (a time-out included).
  virtual std::size_t ReadSome(char* buffer, std::size_t size) = 0;
};

// Buffered reading of lines and byte counts from a source. Borrows the source, which
// must outlive it. Bytes read ahead stay buffered here, so one reader serves one
// connection for its whole life.
class ReplyReader {
 public:
  explicit ReplyReader(ByteSource& source) : source_(source) {}

  // One line without its end (LF, with a CR before it removed). Nothing when the peer
  // closed before the first byte of the line; a last line without its end is returned
  // as it is. Raises Exception("Max line length exceeded.") for a line longer than
  // kMaxLineLength characters.
  std::optional<std::string> ReadLine();
  // Appends up to `count` bytes; returns false when the peer closed first.
  bool ReadBytes(std::uint64_t count, std::string& out);
  // Appends everything until the peer closes.
  void ReadToEnd(std::string& out);
  // Whether bytes are buffered that nobody has read yet.
  bool HasBuffered() const { return position_ < buffer_.size(); }

 private:
  bool Fill();
  ByteSource& source_;
  std::string buffer_;
  std::size_t position_ = 0;
};

struct ReplyHead {
  std::string statusLine;  // exactly as received, without its line end
  int code = -1;
  HeaderList headers;
};

// Reads status line and header lines, skipping every reply with status 100. Raises
// Exception("Connection Closed Gracefully.") when the peer closes while the status line
// is awaited; a close during the header lines ends them. More than kMaxHeadBytes of
// head lines raise Exception.
ReplyHead ReadReplyHead(ReplyReader& reader);

// Reads the header lines after a status line that the caller has read itself, up to
// the empty line or the peer's close, within kMaxHeadBytes.
void ReadHeaderLines(ReplyReader& reader, HeaderList& headers);

// Reads the body that the head announces: chunks (trailer lines are added to the
// head's headers), a Content-Length, or everything until the peer closes. A reply to
// HEAD, with status 204 or 304, or a 1xx has none. A close in the middle of a chunk
// raises Exception("Connection Closed Gracefully."); a close before the Content-Length
// is reached raises Exception("Connexion fermée par le serveur avant la fin de la
// réponse : ..."), so a cut reply is never taken for a whole one. A body larger than
// kMaxBodyBytes, or trailers beyond kMaxHeadBytes, raise Exception.
std::string ReadReplyBody(ReplyReader& reader, ReplyHead& head, bool headRequest);

}  // namespace zirvo::net
