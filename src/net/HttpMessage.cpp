#include "net/HttpMessage.h"

#include "base/StringUtils.h"
#include "base/Unicode.h"
#include "platform/CodePage.h"

namespace zirvo::net {

namespace {

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string Unquote(std::string_view text) {
  text = TrimSpaces(text);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(TrimSpaces(text));
}

// The value of a "name=value" parameter in a ";"-separated header value.
std::string HeaderParameter(std::string_view value, std::string_view name) {
  std::size_t start = value.find(';');
  while (start != std::string_view::npos) {
    const std::size_t end = value.find(';', start + 1);
    const std::string_view part = value.substr(
        start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
    const auto equals = part.find('=');
    if (equals != std::string_view::npos && SameText(TrimSpaces(part.substr(0, equals)), name)) {
      return Unquote(part.substr(equals + 1));
    }
    start = end;
  }
  return std::string();
}

std::string MediaType(std::string_view contentType) {
  return LowerCase(TrimSpaces(contentType.substr(0, contentType.find(';'))));
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The encoding named by an XML declaration at the start of the document.
std::string XmlDeclarationEncoding(std::string_view body) {
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  if (body.substr(0, 5) != "<?xml") return std::string();
  const auto end = body.find("?>");
  const std::string_view declaration = body.substr(0, end);
  const auto key = declaration.find("encoding");
  if (key == std::string_view::npos) return std::string();
  auto rest = TrimSpaces(declaration.substr(key + 8));
  if (rest.empty() || rest.front() != '=') return std::string();
  rest = TrimSpaces(rest.substr(1));
  if (rest.empty() || (rest.front() != '"' && rest.front() != '\'')) return std::string();
  const auto close = rest.find(rest.front(), 1);
  if (close == std::string_view::npos) return std::string();
  return LowerCase(rest.substr(1, close - 1));
}

// The charset an HTML document declares in its head, by <meta charset> or by an
// http-equiv Content-Type. Only the head is looked at, and at most 64 KiB of it.
std::string HtmlMetaCharset(std::string_view body) {
  const std::string head = LowerCase(body.substr(0, 65536));
  const auto headEnd = head.find("</head");
  std::size_t position = 0;
  while ((position = head.find("<meta", position)) != std::string::npos && position < headEnd) {
    const auto close = head.find('>', position);
    const std::string_view element = std::string_view(head).substr(
        position, close == std::string::npos ? std::string::npos : close - position);
    const auto charset = element.find("charset");
    if (charset != std::string_view::npos) {
      auto rest = TrimSpaces(element.substr(charset + 7));
      if (!rest.empty() && rest.front() == '=') {
        rest = TrimSpaces(rest.substr(1));
        if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) rest.remove_prefix(1);
        const auto stop = rest.find_first_of("\"'; />");
        std::string value(rest.substr(0, stop));
        if (!value.empty()) return value;
      }
    }
    position += 5;
  }
  return std::string();
}

std::u16string DecodeBytes(std::string_view body, const std::string& charset) {
  if (charset == "utf-8" || charset == "utf8") return Utf8ToUtf16(body);
  if (charset == "windows-1252" || charset == "cp1252") return Utf8ToUtf16(Cp1252ToUtf8(body));
  std::u16string result;
  result.reserve(body.size());
  const bool ascii = charset == "us-ascii" || charset == "ascii";
  for (const char c : body) {
    const auto byte = static_cast<unsigned char>(c);
    result += ascii && byte > 0x7F ? u'?' : static_cast<char16_t>(byte);
  }
  return result;
}

}  // namespace

void HeaderList::Add(std::string name, std::string value) {
  items_.emplace_back(std::move(name), std::move(value));
}

void HeaderList::AddLine(std::string_view line) {
  if (!line.empty() && (line.front() == ' ' || line.front() == '\t') && !items_.empty()) {
    items_.back().second += " " + std::string(TrimSpaces(line));
    return;
  }
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) {
    Add(std::string(TrimSpaces(line)), std::string());
  } else {
    Add(std::string(TrimSpaces(line.substr(0, colon))),
        std::string(TrimSpaces(line.substr(colon + 1))));
  }
}

std::string HeaderList::Value(std::string_view name) const {
  for (const auto& [itemName, value] : items_) {
    if (SameText(itemName, name)) return value;
  }
  return std::string();
}

bool HeaderList::Has(std::string_view name) const {
  for (const auto& item : items_) {
    if (SameText(item.first, name)) return true;
  }
  return false;
}

std::vector<std::string> HeaderList::Values(std::string_view name) const {
  std::vector<std::string> result;
  for (const auto& [itemName, value] : items_) {
    if (SameText(itemName, name)) result.push_back(value);
  }
  return result;
}

int StatusCodeOf(std::string_view statusLine) {
  const auto firstBlank = statusLine.find(' ');
  if (firstBlank == std::string_view::npos) return -1;
  std::string_view word = statusLine.substr(firstBlank + 1);
  word = word.substr(0, word.find(' '));
  word = word.substr(0, word.find('.'));
  if (word.empty() || word.size() > 9 ||
      word.find_first_not_of("0123456789") != std::string_view::npos) {
    return -1;
  }
  return std::stoi(std::string(word));
}

std::uint64_t ParseChunkSize(std::string_view line) {
  line = TrimSpaces(line.substr(0, line.find(';')));
  // More than 15 hexadecimal digits cannot be a size anyone sends; such a line is as
  // unreadable as any other garbage.
  if (line.empty() || line.size() > 15 ||
      line.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
    return 0;
  }
  std::uint64_t size = 0;
  for (const char c : line) {
    const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    size = size * 16 + static_cast<std::uint64_t>(digit);
  }
  return size;
}

std::optional<std::uint64_t> ParseContentLength(std::string_view value) {
  value = TrimSpaces(value);
  if (value.empty() || value.size() > 18 ||
      value.find_first_not_of("0123456789") != std::string_view::npos) {
    return std::nullopt;
  }
  return std::stoull(std::string(value));
}

bool KeepsConnection(bool http10Request, std::string_view connection,
                     std::string_view proxyConnection) {
  const auto says = [](std::string_view header, std::string_view word) {
    return SameText(TrimSpaces(header), word);
  };
  if (http10Request) {
    return says(connection, "keep-alive") || says(proxyConnection, "keep-alive");
  }
  return !says(connection, "close") && !says(proxyConnection, "close");
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (static_cast<unsigned char>(bytes[i]) << 16) |
                                (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += kAlphabet[(group >> 6) & 63];
    out += kAlphabet[group & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string BasicCredentials(std::string_view user, std::string_view password) {
  return "Basic " + Base64Encode(std::string(user) + ":" + std::string(password));
}

std::string WriteRequestHead(const RequestHead& head) {
  std::string out = head.method + " " + head.target + " HTTP/" + head.version + "\r\n";
  const auto line = [&out](std::string_view name, const std::string& value) {
    if (!value.empty()) out.append(name).append(": ").append(value).append("\r\n");
  };
  line("Connection", head.connection);
  line("Content-Type", head.contentType);
  if (head.contentLength) line("Content-Length", std::to_string(*head.contentLength));
  line("Pragma", head.pragma);
  line("Proxy-Connection", head.proxyConnection);
  line("Host", head.host);
  line("Accept", head.accept);
  line("Accept-Encoding", head.acceptEncoding);
  line("User-Agent", head.userAgent);
  line("Authorization", head.authorization);
  line("Proxy-Authorization", head.proxyAuthorization);
  line("Cookie", head.cookie);
  out += "\r\n";
  return out;
}

std::string WithIdentityEncoding(std::string_view acceptEncoding) {
  if (TrimSpaces(acceptEncoding).empty()) return "identity";
  if (LowerCase(acceptEncoding).find("identity") != std::string::npos) {
    return std::string(acceptEncoding);
  }
  return std::string(acceptEncoding) + ", identity";
}

bool IsReplaceableContentType(std::string_view contentType) {
  const std::string media = MediaType(contentType);
  return media.empty() || media == "text/html" || media == "text/html-sandboxed" ||
         media == "application/xhtml+xml";
}

std::string ReplyCharset(std::string_view contentType, std::string_view body) {
  const std::string media = MediaType(contentType);
  std::string charset = LowerCase(HeaderParameter(contentType, "charset"));
  if (!charset.empty()) return charset;
  const auto slash = media.find('/');
  const std::string type = media.substr(0, slash);
  const std::string subtype = slash == std::string::npos ? std::string() : media.substr(slash + 1);
  const bool xmlSubtype =
      subtype == "xml" || subtype == "xml-external-parsed-entity" || EndsWith(subtype, "+xml");
  if (type == "text") {
    if (xmlSubtype) return "us-ascii";
    if (subtype == "html") {
      std::string meta = LowerCase(HtmlMetaCharset(body));
      if (!meta.empty()) return meta;
    }
    return "iso-8859-1";
  }
  if (media == "application/xml" || media == "application/xml-external-parsed-entity" ||
      media == "application/xml-dtd" || EndsWith(subtype, "+xml")) {
    return XmlDeclarationEncoding(body);
  }
  return std::string();
}

std::string BodyToText(std::string_view body, std::string_view contentType) {
  // A byte-order mark is no part of the text, whatever the charset: left in, it would
  // become part of the first report's message id (or of the access code).
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (body.substr(0, kUtf8Mark.size()) == kUtf8Mark) body.remove_prefix(kUtf8Mark.size());
  return platform::WideToAnsi(DecodeBytes(body, ReplyCharset(contentType, body)));
}

}  // namespace zirvo::net
