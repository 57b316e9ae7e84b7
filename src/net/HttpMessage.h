// The text-level pieces of HTTP/1.x that the client writes and reads. Everything here
// is pure: it takes and gives text, so it is tested without any socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zirvo::net {

// Header lines in the order received. Names compare without regard to ASCII case.
class HeaderList {
 public:
  void Add(std::string name, std::string value);
  // Parses one "Name: value" line (blanks around both trimmed); a line starting with a
  // blank or tab continues the previous value. A line without ":" is a name with an
  // empty value.
  void AddLine(std::string_view line);
  // The first value of a name, or empty.
  std::string Value(std::string_view name) const;
  bool Has(std::string_view name) const;
  std::vector<std::string> Values(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& Items() const { return items_; }

 private:
  std::vector<std::pair<std::string, std::string>> items_;
};

// The second blank-separated word of a status line up to any ".", as a number; -1 when
// it is not a decimal number.
int StatusCodeOf(std::string_view statusLine);

// The size of a chunk from its size line: hexadecimal, anything from ";" on ignored,
// blanks trimmed. An unreadable, negative or empty size gives 0.
std::uint64_t ParseChunkSize(std::string_view line);

// The Content-Length value, when present and a decimal number that is not negative.
std::optional<std::uint64_t> ParseContentLength(std::string_view value);

// Whether the connection may stay open after an exchange: for an HTTP/1.0 request only
// when Connection or Proxy-Connection says "keep-alive"; for HTTP/1.1 unless one of them
// says "close". Case and surrounding blanks are ignored.
bool KeepsConnection(bool http10Request, std::string_view connection,
                     std::string_view proxyConnection);

// "Basic " + Base64(user + ":" + password), standard alphabet with padding.
std::string BasicCredentials(std::string_view user, std::string_view password);
std::string Base64Encode(std::string_view bytes);

// The header values of one request; an empty value (or no Content-Length) is not
// written. WriteRequestHead puts them in the client's fixed order after the request line
// and ends with the empty line; every line ends with CR LF.
struct RequestHead {
  std::string method;
  std::string target;
  std::string version;  // "1.0" or "1.1"
  std::string connection;
  std::string contentType;
  std::optional<std::uint64_t> contentLength;
  std::string pragma;
  std::string proxyConnection;
  std::string host;
  std::string accept;
  std::string acceptEncoding;
  std::string userAgent;
  std::string authorization;
  std::string proxyAuthorization;
  std::string cookie;
};
std::string WriteRequestHead(const RequestHead& head);

// Adds "identity" to an Accept-Encoding value that lacks it.
std::string WithIdentityEncoding(std::string_view acceptEncoding);

// Whether a form POST replaces this content type by the form type: empty, or an HTML
// type.
bool IsReplaceableContentType(std::string_view contentType);

// The charset a reply body is decoded with (lower case), or empty for "bytes as they
// are": the charset parameter of the content type; for a text type without it "us-ascii"
// (XML subtypes) or "iso-8859-1"; for an XML media type the XML declaration's encoding;
// for HTML a meta charset of the document.
std::string ReplyCharset(std::string_view contentType, std::string_view body);

// The body decoded with the charset and converted to the program's narrow text;
// characters the narrow text cannot hold become "?". NUL characters are kept. A leading
// UTF-8 byte-order mark is dropped first, the charset being chosen as without it.
std::string BodyToText(std::string_view body, std::string_view contentType);

}  // namespace zirvo::net
