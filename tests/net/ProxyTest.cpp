// The HTTP client through proxies: a recording peer playing the proxy shows the exact
// bytes, squid shows that a real proxy understands them.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "net/HttpClient.h"
#include "net/HttpMessage.h"
#include "net/NetErrors.h"
#include "net/PeerFixtures.h"

namespace zirvo::net {
namespace {

using test::Exchange;
using test::PeerOptions;
using test::ScriptedPeer;

constexpr const char* kUserAgentLine = "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
constexpr const char* kCommonHeaders =
    "Accept: text/html, */*\r\n"
    "Accept-Encoding: identity\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
    "Authorization: Basic cXVlbnphcjo=\r\n";
constexpr const char* kRefusal =
    "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"z\"\r\n"
    "Content-Type: text/plain\r\nContent-Length: 6\r\n\r\ndenied";

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

HttpClientOptions TestOptions() {
  HttpClientOptions options;
  options.waits.readTimeout = std::chrono::seconds(10);
  options.waits.connectTimeout = std::chrono::seconds(5);
  return options;
}

void UseProxy(HttpClient& client, std::uint16_t port, const std::string& user,
              const std::string& password, bool basic) {
  client.Proxy() = ProxyParams{"127.0.0.1", port, user, password, basic};
}

std::string ConnectRequest(const std::string& target, const std::string& host,
                           const std::string& version, const std::string& credentials) {
  return "CONNECT " + target + " HTTP/" + version +
         "\r\nPragma: no-cache\r\n"
         "Proxy-Connection: keep-alive\r\nHost: " +
         host +
         "\r\n"
         "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n" +
         kUserAgentLine +
         (credentials.empty() ? "" : "Proxy-Authorization: " + credentials + "\r\n") + "\r\n";
}

class ProxyPeer : public test::CertificateSuite {};

TEST_F(ProxyPeer, PlainGetCarriesTheAbsoluteUrlAndProxyCredentials) {
  ScriptedPeer proxy({{Ok("code"), "keep"}, {Ok("port"), "keep"}});
  ASSERT_NE(proxy.Port(), 0);
  HttpClient client(TestOptions());
  UseProxy(client, proxy.Port(), "user", "secret", true);
  EXPECT_EQ(client.HttpGet("http://localhost/connexion"), "code");
  EXPECT_EQ(client.HttpGet("http://127.0.0.1:8080/connexionport?k=v"), "port");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string credentials = "Proxy-Authorization: " + BasicCredentials("user", "secret");
  EXPECT_EQ(requests[0],
            "GET http://localhost/connexion HTTP/1.1\r\nContent-Type: text/html\r\n"
            "Host: localhost\r\n" +
                std::string(kCommonHeaders) + credentials + "\r\n\r\n");
  EXPECT_EQ(requests[1].substr(0, 63),
            "GET http://127.0.0.1:8080/connexionport?k=v HTTP/1.1\r\nContent-T");
  EXPECT_NE(requests[1].find("\r\nHost: 127.0.0.1:8080\r\n"), std::string::npos);
  EXPECT_EQ(proxy.ConnectionsOfRequests(), (std::vector<std::string>{"c01", "c01"}));
}

TEST_F(ProxyPeer, PostGoesThroughATunnelWithExactConnectAndInnerRequest) {
  ScriptedPeer proxy(
      {{"HTTP/1.1 200 Connection established\r\n\r\n", "starttls"}, {Ok("posted"), "close"}},
      PeerOptions{.tunnelTls = cert_});
  ASSERT_NE(proxy.Port(), 0);
  HttpClient client(TestOptions());
  UseProxy(client, proxy.Port(), "user", "secret", true);
  EXPECT_EQ(client.HttpPostForm("https://localhost:4443/envoi/sms/export.php",
                                {"u=a", "p=b", "lstidmsg=7\r\n"}),
            "posted");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], ConnectRequest("localhost:4443", "localhost:4443", "1.0",
                                        BasicCredentials("user", "secret")));
  const std::string body = "u=a&p=b&lstidmsg=7%0D%0A";
  EXPECT_EQ(requests[1],
            "POST /envoi/sms/export.php HTTP/1.0\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: " +
                std::to_string(body.size()) +
                "\r\n"
                "Host: localhost:4443\r\n" +
                kCommonHeaders + "\r\n" + body)
      << "the proxy's credentials do not travel inside the tunnel";
}

TEST_F(ProxyPeer, AProxyClosingAfterItsRefusalIsReconnectedAndAnEmptyAnswerOpensTheTunnel) {
  ScriptedPeer proxy({{"HTTP/1.1 407 Proxy Authentication Required\r\nConnection: close\r\n"
                       "Proxy-Authenticate: Basic realm=\"z\"\r\nContent-Length: 0\r\n\r\n",
                       "close"},
                      {"HTTP/1.0 200 Connection established\r\n\r\n", "starttls"},
                      {Ok("second round"), "keep"},
                      {"\r\n", "starttls"},
                      {Ok("empty answer"), "keep"},
                      {Ok("plain post"), "keep"}},
                     PeerOptions{.tunnelTls = cert_});
  ASSERT_NE(proxy.Port(), 0);
  HttpClient client(TestOptions());
  UseProxy(client, proxy.Port(), "user", "secret", false);
  EXPECT_EQ(client.HttpGet("https://localhost/a"), "second round");
  EXPECT_EQ(client.HttpPostForm("https://localhost/b", {"k=v"}), "empty answer");
  EXPECT_FALSE(client.Connected()) << "a tunnel opened by an empty answer serves one exchange";
  EXPECT_EQ(client.HttpPostForm("http://localhost/c", {"k=v"}), "plain post");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_EQ(requests[1], ConnectRequest("localhost:443", "localhost", "1.1",
                                        BasicCredentials("user", "secret")));
  EXPECT_EQ(requests[5],
            "POST http://localhost/c HTTP/1.0\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: 3\r\nProxy-Connection: keep-alive\r\n"
            "Host: localhost\r\n" +
                std::string(kCommonHeaders) + "\r\nk=v");
  EXPECT_EQ(proxy.ConnectionsOfRequests(),
            (std::vector<std::string>{"c01", "c02", "c02", "c03", "c03", "c04"}));
}

TEST_F(ProxyPeer, AProxyRefusingForEverCostsAtMostThreeRounds) {
  ScriptedPeer proxy({{kRefusal, "keep"}}, PeerOptions{.repeatLast = true});
  ASSERT_NE(proxy.Port(), 0);
  HttpClient client(TestOptions());
  // Credentials configured, basic authentication off: the first CONNECT goes without.
  UseProxy(client, proxy.Port(), "user", "secret", false);
  try {
    client.HttpPostForm("https://localhost/x", {"a=b"});
    FAIL() << "no error";
  } catch (const HttpProtocolError& error) {
    EXPECT_EQ(error.Message(), "HTTP/1.1 407 Proxy Authentication Required");
    EXPECT_EQ(error.Code(), 407);
    EXPECT_EQ(error.Body(), "denied");
  }
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0], ConnectRequest("localhost:443", "localhost", "1.0", ""));
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(requests[i], ConnectRequest("localhost:443", "localhost", "1.0",
                                          BasicCredentials("user", "secret")));
  }
  EXPECT_FALSE(client.Connected());

  // Without a password nothing can answer the refusal.
  ScriptedPeer strict({{kRefusal, "keep"}}, PeerOptions{.repeatLast = true});
  HttpClient bare(TestOptions());
  UseProxy(bare, strict.Port(), "user", " ", true);
  EXPECT_THROW(bare.HttpGet("https://localhost/x"), HttpProtocolError);
  EXPECT_EQ(strict.Requests().size(), 1u);
}

TEST_F(ProxyPeer, APlainRefusalIsAnsweredLikeATunnelsAndIsNeverTheResult) {
  ScriptedPeer proxy({{kRefusal, "keep"}, {Ok("code"), "keep"}, {kRefusal, "keep"}},
                     PeerOptions{.repeatLast = true});
  ASSERT_NE(proxy.Port(), 0);
  HttpClient client(TestOptions());
  // Credentials configured, basic authentication off: the first request goes without,
  // the proxy's Basic challenge is answered on the same connection.
  UseProxy(client, proxy.Port(), "user", "secret", false);
  EXPECT_EQ(client.HttpGet("http://localhost/connexion"), "code");
  // A proxy that keeps refusing costs at most three more rounds, then its status line.
  try {
    client.HttpGet("http://localhost/connexionport");
    FAIL() << "the refusal page was taken as the reply";
  } catch (const HttpProtocolError& error) {
    EXPECT_EQ(error.Message(), "HTTP/1.1 407 Proxy Authentication Required");
    EXPECT_EQ(error.Body(), "denied");
  }
  auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 6u);
  const std::string credentials = "Proxy-Authorization: " + BasicCredentials("user", "secret");
  EXPECT_EQ(requests[0].find("Proxy-Authorization"), std::string::npos);
  EXPECT_EQ(requests[0].substr(0, 42), "GET http://localhost/connexion HTTP/1.1\r\nC");
  EXPECT_EQ(requests[1], requests[0].substr(0, requests[0].size() - 2) + credentials + "\r\n\r\n");
  EXPECT_EQ(requests[2].find("Proxy-Authorization"), std::string::npos);
  for (std::size_t i = 3; i < 6; ++i) EXPECT_NE(requests[i].find(credentials), std::string::npos);
  EXPECT_EQ(proxy.ConnectionsOfRequests(), (std::vector<std::string>(6, "c01")))
      << "the refusals keep the connection";

  // Without a user name nothing can answer it: one request, then the status line.
  UseProxy(client, proxy.Port(), "", "secret", true);
  EXPECT_THROW(client.HttpGet("http://localhost/connexion"), HttpProtocolError);
  EXPECT_EQ(proxy.Requests().size(), 7u);
}

TEST_F(ProxyPeer, PortZeroFailsAndAnEmptyServerGoesDirect) {
  HttpClient client(TestOptions());
  UseProxy(client, 0, "user", "secret", true);
  const std::string message = [&] {
    try {
      client.HttpGet("http://localhost/connexion");
    } catch (const ESocketError& error) {
      return error.Message();
    }
    return std::string("(no socket error)");
  }();
  EXPECT_EQ(message.substr(0, 15), "Socket Error # ");

  ScriptedPeer origin({{Ok("direct"), "close"}});
  client.Proxy().proxyServer.clear();
  EXPECT_EQ(client.HttpGet("http://" + origin.Base() + "/connexion"), "direct");
  ASSERT_EQ(origin.Requests().size(), 1u);
  EXPECT_EQ(origin.Requests()[0].substr(0, 26), "GET /connexion HTTP/1.1\r\nC");
  EXPECT_EQ(origin.Requests()[0].find("Proxy-Authorization"), std::string::npos);
}

// squid, started once for the suite: one instance without and one with authentication.
class Squid : public test::CertificateSuite {
 protected:
  static void SetUpTestSuite() {
    CertificateSuite::SetUpTestSuite();
    open_ = new test::SquidProxy();
    guarded_ = new test::SquidProxy("zirvo", "s3cret");
  }
  static void TearDownTestSuite() {
    delete guarded_;
    delete open_;
    CertificateSuite::TearDownTestSuite();
  }
  void SetUp() override {
    if (!open_->Ready() || !guarded_->Ready()) GTEST_SKIP() << "squid did not start";
    CertificateSuite::SetUp();
  }
  static inline test::SquidProxy* open_ = nullptr;
  static inline test::SquidProxy* guarded_ = nullptr;
};

TEST_F(Squid, ForwardsTheGetWithOurHeaders) {
  ScriptedPeer origin({{Ok("3A5F"), "close"}});
  ASSERT_NE(origin.Port(), 0);
  HttpClient client(TestOptions());
  UseProxy(client, open_->Port(), "", "", false);
  EXPECT_EQ(client.HttpGet("http://" + origin.Base() + "/connexion?k=v"), "3A5F");
  const auto requests = origin.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].substr(0, 29), "GET /connexion?k=v HTTP/1.1\r\n");
  for (const std::string& line : std::vector<std::string>{
           "\r\nAuthorization: Basic cXVlbnphcjo=\r\n", "\r\nAccept: text/html, */*\r\n",
           "\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n",
           "\r\nHost: " + origin.Base() + "\r\n"}) {
    EXPECT_NE(requests[0].find(line), std::string::npos) << line;
  }
}

TEST_F(Squid, AuthenticatesGetsAndTunnelsThePostByteForByte) {
  ScriptedPeer origin({{Ok("plain"), "close"}, {Ok("101|x|DELIVERED"), "close"}}, PeerOptions{});
  ScriptedPeer gateway({{Ok("101|x|DELIVERED"), "close"}}, PeerOptions{.tls = cert_});
  ASSERT_NE(origin.Port(), 0);
  ASSERT_NE(gateway.Port(), 0);
  HttpClient client(TestOptions());
  UseProxy(client, guarded_->Port(), "zirvo", "s3cret", true);
  EXPECT_EQ(client.HttpGet("http://" + origin.Base() + "/connexion"), "plain");
  EXPECT_EQ(origin.Requests().at(0).find("Proxy-Authorization"), std::string::npos)
      << "squid consumes the proxy credentials";

  EXPECT_EQ(client.HttpPostForm("https://" + gateway.Base() + "/envoi/sms/export.php",
                                {"u=acc", "p=pw", "lstidmsg=101\r\n"}),
            "101|x|DELIVERED");
  const std::string body = "u=acc&p=pw&lstidmsg=101%0D%0A";
  ASSERT_EQ(gateway.Requests().size(), 1u);
  EXPECT_EQ(gateway.Requests()[0],
            "POST /envoi/sms/export.php HTTP/1.0\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: " +
                std::to_string(body.size()) +
                "\r\n"
                "Host: " +
                gateway.Base() + "\r\n" + kCommonHeaders + "\r\n" + body);
}

TEST_F(Squid, AnswersTheRefusalOfATunnelAndReportsWrongCredentials) {
  ScriptedPeer gateway({{Ok("through"), "close"}}, PeerOptions{.tls = cert_});
  ASSERT_NE(gateway.Port(), 0);
  HttpClient client(TestOptions());
  // Basic authentication off: squid's 407 names Basic and the credentials answer it.
  UseProxy(client, guarded_->Port(), "zirvo", "s3cret", false);
  EXPECT_EQ(client.HttpPostForm("https://" + gateway.Base() + "/x", {"a=1"}), "through");

  UseProxy(client, guarded_->Port(), "zirvo", "wrong", true);
  try {
    client.HttpPostForm("https://" + gateway.Base() + "/x", {"a=1"});
    FAIL() << "no error";
  } catch (const HttpProtocolError& error) {
    EXPECT_EQ(error.Code(), 407);
    EXPECT_EQ(error.Message().substr(0, 13), "HTTP/1.1 407 ");
  }
  // A plain request refused for wrong credentials fails with the proxy's status line;
  // its refusal page is never taken for the server's reply.
  try {
    client.HttpGet("http://127.0.0.1:9/connexion");
    FAIL() << "the refusal page was taken as the reply";
  } catch (const HttpProtocolError& error) {
    EXPECT_EQ(error.Code(), 407);
    EXPECT_EQ(error.Message().substr(0, 13), "HTTP/1.1 407 ");
  }
  EXPECT_EQ(gateway.Requests().size(), 1u);

  // With the right credentials and basic authentication off, the plain GET's 407 is
  // answered like the tunnel's.
  ScriptedPeer origin({{Ok("code"), "close"}});
  ASSERT_NE(origin.Port(), 0);
  UseProxy(client, guarded_->Port(), "zirvo", "s3cret", false);
  EXPECT_EQ(client.HttpGet("http://" + origin.Base() + "/connexion"), "code");
}

}  // namespace
}  // namespace zirvo::net
