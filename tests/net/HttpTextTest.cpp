// The text-level rules of the HTTP client: URLs, the form body, request heads, status
// lines, framing values, keep-alive, charsets and cookies.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "net/Cookies.h"
#include "net/FormEncoding.h"
#include "net/HttpMessage.h"
#include "net/Url.h"

namespace zirvo::net {
namespace {

TEST(Url, SplitsIntoPartsAndBuildsTargetsAndHostValues) {
  const Url url = ParseUrl("HTTP://www.example.com:8080/dir/sub/connexion?x=1&y=2#frag");
  EXPECT_EQ(url.protocol, "http");
  EXPECT_EQ(url.host, "www.example.com");
  EXPECT_EQ(url.port, "8080");
  EXPECT_EQ(url.path, "/dir/sub/");
  EXPECT_EQ(url.document, "connexion");
  EXPECT_EQ(RequestTarget(url), "/dir/sub/connexion?x=1&y=2");
  EXPECT_EQ(HostHeaderValue(url, EffectivePort(url)), "www.example.com:8080");
  EXPECT_EQ(AbsoluteTarget(url, 8080), "http://www.example.com:8080/dir/sub/connexion?x=1&y=2");

  const Url plain = ParseUrl("http://h/connexionport");
  EXPECT_EQ(EffectivePort(plain), 80);
  EXPECT_EQ(HostHeaderValue(plain, 80), "h");
  EXPECT_EQ(AbsoluteTarget(plain, 80), "http://h/connexionport");
  const Url secure = ParseUrl("https://gw/envoi/sms/export.php");
  EXPECT_EQ(EffectivePort(secure), 443);
  EXPECT_EQ(HostHeaderValue(secure, 443), "gw");
  EXPECT_EQ(RequestTarget(ParseUrl("http://h")), "/");
  EXPECT_EQ(RequestTarget(ParseUrl("http://h?q")), "/?q");
  // The URL is used as written: nothing is percent-encoded.
  EXPECT_EQ(RequestTarget(ParseUrl("http://h/a b/é?c d")), "/a b/é?c d");
}

TEST(Url, RefusesUnknownProtocolWithoutPortAndBadPorts) {
  try {
    EffectivePort(ParseUrl("ftp://h/x"));
    FAIL() << "no error";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Unknown Protocol");
  }
  EXPECT_EQ(EffectivePort(ParseUrl("ftp://h:21/x")), 21);
  EXPECT_THROW(EffectivePort(ParseUrl("http://h:80x/")), EConvertError);
  EXPECT_THROW(EffectivePort(ParseUrl("http://h:0/")), EConvertError);
  EXPECT_THROW(EffectivePort(ParseUrl("http://h:65536/")), EConvertError);
}

TEST(FormEncoding, EncodesFieldsByteForByte) {
  EXPECT_EQ(EncodeFormFields({"u=A B", "p=x=y", "lstidmsg=1\r\n2"}),
            "u=A+B&p=x%3Dy&lstidmsg=1%0D%0A2");
  // The gateway's fields: every id followed by CR LF, the last one included.
  EXPECT_EQ(EncodeFormFields({"u=acc", "p=pw", "lstidmsg=101\r\n102\r\n"}),
            "u=acc&p=pw&lstidmsg=101%0D%0A102%0D%0A");
  // The trimming comes after the encoding: blanks and line ends are no longer there.
  EXPECT_EQ(EncodeFormFields({"  a=b\r\n"}), "++a=b%0D%0A");
  EXPECT_EQ(EncodeFormFields({}), "");
  EXPECT_EQ(EncodeFormFields({"plain text", "k="}), "plain+text&k=");
  EXPECT_EQ(EncodeFormText("*-._~!é€"), "*-._%7E%21%C3%A9%E2%82%AC");
  EXPECT_EQ(EncodeFormText("a&b+c%"), "a%26b%2Bc%25");
}

TEST(RequestHead, WritesHeadersInTheClientsOrderAndLeavesEmptyOnesOut) {
  RequestHead head;
  head.method = "POST";
  head.target = "/x";
  head.version = "1.0";
  head.cookie = "a=1";
  head.proxyAuthorization = "Basic eDp5";
  head.authorization = BasicCredentials("quenzar", "");
  head.userAgent = "UA";
  head.acceptEncoding = WithIdentityEncoding("");
  head.accept = "text/html, */*";
  head.host = "h";
  head.contentLength = 0;
  head.contentType = "application/x-www-form-urlencoded";
  head.connection = "keep-alive";
  EXPECT_EQ(WriteRequestHead(head),
            "POST /x HTTP/1.0\r\nConnection: keep-alive\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n"
            "Host: h\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
            "User-Agent: UA\r\nAuthorization: Basic cXVlbnphcjo=\r\n"
            "Proxy-Authorization: Basic eDp5\r\nCookie: a=1\r\n\r\n");
  RequestHead get;
  get.method = "GET";
  get.target = "/";
  get.version = "1.1";
  EXPECT_EQ(WriteRequestHead(get), "GET / HTTP/1.1\r\n\r\n") << "no Content-Length on a GET";

  EXPECT_EQ(WithIdentityEncoding("gzip"), "gzip, identity");
  EXPECT_EQ(WithIdentityEncoding("Identity"), "Identity");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("abcd"), "YWJjZA==");
  EXPECT_TRUE(IsReplaceableContentType("text/html"));
  EXPECT_TRUE(IsReplaceableContentType(""));
  EXPECT_TRUE(IsReplaceableContentType("application/xhtml+xml"));
  EXPECT_FALSE(IsReplaceableContentType("application/json"));
}

TEST(ReplyValues, StatusCodesChunkSizesLengthsAndKeepAlive) {
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 404 Not Found"), 404);
  EXPECT_EQ(StatusCodeOf("HTTP/1.0 200.5 OK"), 200);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 2x0 OK"), -1);
  EXPECT_EQ(StatusCodeOf("garbage"), -1);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1  200 OK"), -1);
  EXPECT_EQ(StatusCodeOf("HTTP/1.1 99999999999 OK"), -1);

  EXPECT_EQ(ParseChunkSize("1a;name=value"), 26u);
  EXPECT_EQ(ParseChunkSize("  10  "), 16u);
  EXPECT_EQ(ParseChunkSize("-5"), 0u);
  EXPECT_EQ(ParseChunkSize("zz"), 0u);
  EXPECT_EQ(ParseChunkSize("FFFFFFFFFFFFFFFFFFFF"), 0u);
  EXPECT_EQ(ParseChunkSize("7FFFFFFFFFFFFFF"), 0x7FFFFFFFFFFFFFFull);

  EXPECT_EQ(ParseContentLength(" 12 "), 12u);
  EXPECT_FALSE(ParseContentLength("-1"));
  EXPECT_FALSE(ParseContentLength("abc"));

  EXPECT_TRUE(KeepsConnection(false, "", ""));
  EXPECT_FALSE(KeepsConnection(false, " Close ", ""));
  EXPECT_FALSE(KeepsConnection(false, "", "close"));
  EXPECT_FALSE(KeepsConnection(true, "", ""));
  EXPECT_TRUE(KeepsConnection(true, "Keep-Alive", ""));
  EXPECT_TRUE(KeepsConnection(true, "", " keep-alive "));

  HeaderList headers;
  headers.AddLine("Set-Cookie:  a=1 ");
  headers.AddLine("X-Long: one");
  headers.AddLine("\ttwo");
  headers.AddLine("set-cookie: b=2");
  headers.AddLine("NoColon");
  EXPECT_EQ(headers.Values("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
  EXPECT_EQ(headers.Value("x-long"), "one two");
  EXPECT_TRUE(headers.Has("NoColon"));
}

TEST(ReplyText, ChoosesTheCharsetAndConvertsToOurText) {
  EXPECT_EQ(ReplyCharset("text/plain", ""), "iso-8859-1");
  EXPECT_EQ(ReplyCharset("text/html; charset=\"UTF-8\"", ""), "utf-8");
  EXPECT_EQ(ReplyCharset("text/xml", ""), "us-ascii");
  EXPECT_EQ(ReplyCharset("text/svg+xml", ""), "us-ascii");
  EXPECT_EQ(ReplyCharset("application/octet-stream", ""), "");
  EXPECT_EQ(ReplyCharset("", ""), "");
  EXPECT_EQ(ReplyCharset("application/xml", "<?xml version=\"1.0\" encoding='UTF-8'?><a/>"),
            "utf-8");
  EXPECT_EQ(
      ReplyCharset("text/html", "<html><head><meta charset=\"windows-1252\"></head><body/></html>"),
      "windows-1252");
  EXPECT_EQ(ReplyCharset("text/html",
                         "<head><meta http-equiv=\"Content-Type\" "
                         "content=\"text/html; charset=utf-8\"></head>"),
            "utf-8");

  // Narrow text is UTF-8 here: the same bytes read differently by charset.
  EXPECT_EQ(BodyToText("caf\xE9", "text/plain"), "café");
  EXPECT_EQ(BodyToText("caf\xC3\xA9", "text/plain; charset=utf-8"), "café");
  EXPECT_EQ(BodyToText("\x80", "text/plain; charset=windows-1252"), "€");
  EXPECT_EQ(BodyToText("a\xE9", "text/xml"), "a?");
  EXPECT_EQ(BodyToText("a\xE9", ""), "aé") << "no content type: byte to character";
  EXPECT_EQ(BodyToText("a\xE9", "text/plain; charset=x-unknown"), "aé");
  EXPECT_EQ(BodyToText(std::string("1|x\0|2", 6), "text/plain"), std::string("1|x\0|2", 6));
  // A byte-order mark never reaches the text; the rest keeps its charset's reading.
  EXPECT_EQ(BodyToText("\xEF\xBB\xBFid1|caf\xC3\xA9", "text/plain; charset=utf-8"), "id1|café");
  EXPECT_EQ(BodyToText("\xEF\xBB\xBFid1|caf\xE9", "text/plain"), "id1|café");
}

TEST(CookieStore, StoresMatchesReplacesAndExpires) {
  CookieStore store;
  const auto now = std::chrono::system_clock::now();
  store.Store("sid=abc; Path=/; HttpOnly", "Gw.Example", "/envoi/sms/export.php", now, true);
  store.Store("lang=fr", "gw.example", "/envoi/sms/export.php", now, true);
  store.Store("sec=1; Secure", "gw.example", "/", now, true);
  EXPECT_EQ(store.HeaderFor("gw.example", "/envoi/sms/x", false, now), "lang=fr; sid=abc");
  EXPECT_EQ(store.HeaderFor("gw.example", "/other", true, now), "sid=abc; sec=1");
  EXPECT_EQ(store.HeaderFor("other.example", "/", true, now), "");

  store.Store("sid=new; Path=/", "gw.example", "/", now, true);
  EXPECT_EQ(store.HeaderFor("gw.example", "/", false, now), "sid=new");
  store.Store("sid=gone; Path=/; Max-Age=0", "gw.example", "/", now, true);
  store.Store("sec=x; Secure; Expires=Thu, 01 Jan 1970 00:00:00 GMT", "gw.example", "/", now, true);
  EXPECT_EQ(store.HeaderFor("gw.example", "/", true, now), "");

  store.Store("d=1; Domain=.cabinet.example; Max-Age=60", "www.cabinet.example", "/", now, true);
  store.Store("evil=1; Domain=attacker.test", "www.cabinet.example", "/", now, true);
  // A one-label domain would reach every host under it; the host's own name stays its own.
  store.Store("tld=1; Domain=example", "www.cabinet.example", "/", now, true);
  store.Store("local=1; Domain=intranet", "intranet", "/", now, true);
  // A Secure cookie from plain HTTP would be sent inside TLS later.
  store.Store("plain=1; Secure; Domain=cabinet.example", "www.cabinet.example", "/", now, false);
  EXPECT_EQ(store.HeaderFor("api.cabinet.example", "/", true, now), "d=1");
  EXPECT_EQ(store.HeaderFor("api.cabinet.example", "/", false, now + std::chrono::seconds(61)), "");
  EXPECT_EQ(store.HeaderFor("intranet", "/", false, now), "local=1");
  EXPECT_EQ(store.HeaderFor("x.intranet", "/", false, now), "");

  // A name or value with a control character would put a CR or NUL into the Cookie
  // header line: the cookie is ignored (a tab is allowed).
  for (const std::string& setCookie :
       {std::string("cr=a\rX-Injected: 1"), std::string("nul=a\0b", 7), std::string("n\x01=v"),
        std::string("del=\x7f")}) {
    store.Store(setCookie, "ctl.test", "/", now, true);
  }
  store.Store("tab=a\tb", "ctl.test", "/", now, true);
  EXPECT_EQ(store.HeaderFor("ctl.test", "/", false, now), "tab=a\tb");

  for (int i = 0; i < 1000; ++i) store.Store("n" + std::to_string(i) + "=v", "h", "/", now, true);
  EXPECT_LE(store.Size(), 300u) << "a server setting cookies without end stays bounded";

  const auto date = ParseCookieDate("Wed, 21 Oct 2015 07:28:00 GMT");
  ASSERT_TRUE(date);
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count(),
            1445412480);
  EXPECT_FALSE(ParseCookieDate("not a date"));
  const auto seconds = [](std::string_view text) {
    const auto parsed = ParseCookieDate(text);
    return parsed ? std::chrono::duration_cast<std::chrono::seconds>(parsed->time_since_epoch())
                        .count()
                  : -1;
  };
  EXPECT_EQ(seconds("Wed, 21-Oct-15 7:28:0 GMT"), 1445412480) << "one-digit parts, short year";
  // Out-of-range numbers in the time are refused, never read into an int.
  for (const char* bad : {"Wed, 21 Oct 2015 99999999999:28:00 GMT", "Wed, 21 Oct 2015 07:28:-1 GMT",
                          "Wed, 21 Oct 2015 07::00 GMT", "Wed, 21 Oct 2015 07:28:001 GMT",
                          "Wed, 21 Oct 2015 24:00:00 GMT"}) {
    EXPECT_EQ(seconds(bad), -1) << bad;
  }
  // Beyond the clock's range (2262 on Linux) the expiry is the clock's last instant.
  for (const char* late : {"Fri, 31 Dec 9999 23:59:59 GMT", "Sat, 01 Jan 2263 00:00:00 GMT",
                           "Mon, 01 Jan 999999 00:00:00 GMT"}) {
    EXPECT_EQ(ParseCookieDate(late), std::chrono::system_clock::time_point::max()) << late;
  }
  EXPECT_EQ(ParseCookieDate("Mon, 01 Jan 1601 00:00:00 GMT"),
            std::chrono::system_clock::time_point::min());
  store.Store("late=1; Expires=Fri, 31 Dec 9999 23:59:59 GMT", "late.example", "/", now, true);
  store.Store("early=1; Expires=Mon, 01 Jan 1601 00:00:00 GMT", "late.example", "/", now, true);
  EXPECT_EQ(store.HeaderFor("late.example", "/", false, now), "late=1");
}

}  // namespace
}  // namespace zirvo::net
