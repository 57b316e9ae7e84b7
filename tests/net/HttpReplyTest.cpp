// Reading replies from a byte stream: status lines, headers, body framing, limits.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "net/HttpReply.h"

namespace zirvo::net {
namespace {

// Hands out a text in pieces of at most `piece` bytes, then reports the close.
class TextSource : public ByteSource {
 public:
  explicit TextSource(std::string text, std::size_t piece = 7)
      : text_(std::move(text)), piece_(piece) {}
  std::size_t ReadSome(char* buffer, std::size_t size) override {
    const std::size_t count = std::min({size, piece_, text_.size() - position_});
    text_.copy(buffer, count, position_);
    position_ += count;
    ++reads_;
    return count;
  }
  std::size_t Consumed() const { return position_; }

 private:
  std::string text_;
  std::size_t piece_;
  std::size_t position_ = 0;
  int reads_ = 0;
};

struct Reply {
  ReplyHead head;
  std::string body;
};

Reply Read(const std::string& text, std::size_t piece = 7) {
  TextSource source(text, piece);
  ReplyReader reader(source);
  Reply reply;
  reply.head = ReadReplyHead(reader);
  reply.body = ReadReplyBody(reader, reply.head, false);
  return reply;
}

std::string ErrorOf(const std::string& text) {
  try {
    Read(text);
  } catch (const Exception& error) {
    return error.Message();
  }
  return "(no error)";
}

TEST(ReplyReading, SkipsContinueAndReadsChunksWithTrailers) {
  const Reply reply = Read(
      "HTTP/1.1 100 Continue\r\n\r\n"
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nSet-Cookie: a=1\r\n\r\n"
      "4;ext=1\r\n1|20\r\n 7 \r\n24|OK\r\n\r\n0\r\nX-Checksum: 42\r\n\r\n");
  EXPECT_EQ(reply.head.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(reply.head.code, 200);
  EXPECT_EQ(reply.body, "1|2024|OK\r\n");
  EXPECT_EQ(reply.head.headers.Value("X-Checksum"), "42") << "trailers join the headers";
  EXPECT_EQ(reply.head.headers.Value("Set-Cookie"), "a=1");
}

TEST(ReplyReading, FramesBodiesByLengthOrClose) {
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA").body, "hello");
  EXPECT_EQ(Read("HTTP/1.0 200 OK\r\n\r\nuntil\r\nclose").body, "until\r\nclose");
  EXPECT_EQ(Read("HTTP/1.1 204 No Content\r\n\r\nignored").body, "");
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nContent-Length: -3\r\n\r\nabc").body, "abc");
  EXPECT_EQ(Read(std::string("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\na\0b\0c", 43)).body,
            std::string("a\0b\0c", 5));
  // A close during the header lines just ends them.
  const Reply cut = Read("HTTP/1.1 404 Not Found\r\nServer: x");
  EXPECT_EQ(cut.head.code, 404);
  EXPECT_EQ(cut.head.headers.Value("Server"), "x");
  // LF alone ends lines too; a garbage status line has the code -1.
  const Reply bare = Read("garbage here\nContent-Length: 2\n\nok");
  EXPECT_EQ(bare.head.statusLine, "garbage here");
  EXPECT_EQ(bare.head.code, -1);
  EXPECT_EQ(bare.body, "ok");
}

TEST(ReplyReading, BadFramingEndsInTheClientsTexts) {
  EXPECT_EQ(ErrorOf(""), "Connection Closed Gracefully.");
  EXPECT_EQ(ErrorOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nonly a part"),
            "Connection Closed Gracefully.");
  EXPECT_EQ(ErrorOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"),
            "Connection Closed Gracefully.");
  // A body cut before its announced length is a failure, not a shorter reply.
  EXPECT_EQ(ErrorOf("HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"),
            "Connexion fermée par le serveur avant la fin de la réponse : 5 octets reçus sur 50 "
            "annoncés.");
  EXPECT_EQ(ErrorOf("HTTP/1.1 500 Panne\r\nContent-Length: 9\r\n\r\n"),
            "Connexion fermée par le serveur avant la fin de la réponse : 0 octet reçu sur 9 "
            "annoncés.");
  EXPECT_EQ(ErrorOf("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n"),
            "Connexion fermée par le serveur avant la fin de la réponse : 0 octet reçu sur 1 "
            "annoncé.");
  // Negative and unreadable sizes count as 0: the body ends there.
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nabc").body, "");
  EXPECT_EQ(Read("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n").body, "");
  // Sizes beyond the body bound are refused before anything is allocated.
  EXPECT_NE(ErrorOf("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFFFFFFFFF\r\nab")
                .find("trop volumineuse"),
            std::string::npos);
  EXPECT_NE(
      ErrorOf("HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\nab").find("trop volumineuse"),
      std::string::npos);
}

TEST(ReplyReading, LinesAreLimitedTo16384Characters) {
  const std::string longest(kMaxLineLength, 'v');
  EXPECT_EQ(
      Read("HTTP/1.1 200 OK\r\nX: " + longest.substr(3) + "\r\nContent-Length: 0\r\n\r\n", 4096)
          .head.headers.Value("X")
          .size(),
      kMaxLineLength - 3);
  EXPECT_EQ(ErrorOf("HTTP/1.1 200 OK\r\nX: " + longest.substr(2) + "\r\n\r\n"),
            "Max line length exceeded.");
  // A 100 000-character line is refused without being read whole.
  TextSource source("HTTP/1.1 200 OK\r\nX: " + std::string(100000, 'y') + "\r\n\r\n", 1024);
  ReplyReader reader(source);
  EXPECT_THROW(ReadReplyHead(reader), Exception);
  EXPECT_LT(source.Consumed(), 20000u);
  EXPECT_EQ(ErrorOf(std::string(20000, 's')), "Max line length exceeded.");
}

TEST(ReplyReading, EndlessHeadsAndContinuesAreBounded) {
  std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
  while (manyHeaders.size() <= kMaxHeadBytes)
    manyHeaders += "X-Filler: " + std::string(200, 'f') + "\r\n";
  EXPECT_NE(ErrorOf(manyHeaders + "\r\n").find("trop volumineux"), std::string::npos);
  std::string continues;
  while (continues.size() <= kMaxHeadBytes) continues += "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_NE(ErrorOf(continues + "HTTP/1.1 200 OK\r\n\r\n").find("trop volumineux"),
            std::string::npos);
  std::string trailers = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n";
  while (trailers.size() <= 2 * kMaxHeadBytes) trailers += "T: " + std::string(100, 't') + "\r\n";
  EXPECT_NE(ErrorOf(trailers + "\r\n").find("trop volumineux"), std::string::npos);
}

}  // namespace
}  // namespace zirvo::net
