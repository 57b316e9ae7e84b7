// The HTTP client against real peers on loopback: the bytes it puts on the wire, the
// replies it accepts, and every failure it reports.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "base/Errors.h"
#include "net/HttpClient.h"
#include "net/NetErrors.h"
#include "net/PeerFixtures.h"
#include "platform/SystemError.h"

namespace zirvo::net {
namespace {

using test::Exchange;
using test::PeerOptions;
using test::ScriptedPeer;
using namespace std::string_literals;

constexpr const char* kCommonHeaders =
    "Accept: text/html, */*\r\n"
    "Accept-Encoding: identity\r\n"
    "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"
    "Authorization: Basic cXVlbnphcjo=\r\n";

std::string Ok(const std::string& body, const std::string& extraHeaders = "") {
  return "HTTP/1.1 200 OK\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

// Tests of a bound shorten the read step with it (the loop runs every step, 250 ms in
// production), so that a short bound still spans several steps.
HttpClientOptions TestOptions(std::atomic<int>* pumps = nullptr,
                              std::chrono::milliseconds readStep = std::chrono::milliseconds(250)) {
  HttpClientOptions options;
  options.waits.readStep = readStep;
  options.waits.readTimeout = std::chrono::seconds(5);
  options.waits.connectTimeout = std::chrono::seconds(5);
  if (pumps) options.waits.pump = [pumps] { ++*pumps; };
  return options;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& error) {
    return error.Message();
  }
  return "(no error)";
}

class HttpClientPeer : public test::CertificateSuite {};

// What a main-loop pump raises when the service must stop.
class StopPending : public Exception {
 public:
  using Exception::Exception;
};

TEST_F(HttpClientPeer, GetSendsTheExactRequestAndReusesTheKeptConnection) {
  ScriptedPeer peer({{Ok("3A5F"), "keep"}, {Ok("C0DE"), "keep"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string url = "http://" + peer.Base() + "/connexion";
  EXPECT_EQ(client.HttpGet(url), "3A5F");
  EXPECT_EQ(client.HttpGet(url + "port"), "C0DE");

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET /connexion HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: " +
                peer.Base() + "\r\n" + kCommonHeaders + "\r\n");
  EXPECT_EQ(requests[1].substr(0, 30), "GET /connexionport HTTP/1.1\r\nC");
  EXPECT_EQ(peer.ConnectionsOfRequests(), (std::vector<std::string>{"c01", "c01"}))
      << "an HTTP/1.1 GET reuses the kept-alive connection";
  EXPECT_TRUE(client.Connected());
}

TEST_F(HttpClientPeer, AKeptConnectionClosedUnansweredIsReplacedOnceForAGet) {
  ScriptedPeer peer(
      {{Ok("one"), "keep"}, {"", "close"}, {Ok("two"), "keep"}, {"", "close"}, {"", "close"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string base = "http://" + peer.Base();
  EXPECT_EQ(client.HttpGet(base + "/a"), "one");
  EXPECT_EQ(client.HttpGet(base + "/b"), "two");
  EXPECT_EQ(peer.ConnectionsOfRequests(), (std::vector<std::string>{"c01", "c01", "c02"}));
  // Only once: a fresh connection closed unanswered is a failure.
  EXPECT_EQ(ErrorOf([&] { client.HttpGet(base + "/c"); }), "Connection Closed Gracefully.");
  EXPECT_EQ(peer.Requests().size(), 5u);
}

TEST_F(HttpClientPeer, PostOverTlsIsExactOnANewConnectionAndSwitchesTheContentType) {
  ScriptedPeer peer({{Ok("101|2024-01-02 10:00:00|DELIVERED\r\n"), "keep"},
                     {Ok("second"), "keep"},
                     {Ok("after"), "keep"}},
                    PeerOptions{.tls = cert_});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string url = "https://" + peer.Base() + "/envoi/sms/export.php";
  EXPECT_EQ(client.HttpPostForm(url, {"u=acc", "p=p w", "lstidmsg=101\r\n102\r\n"}),
            "101|2024-01-02 10:00:00|DELIVERED\r\n");
  EXPECT_EQ(client.HttpPostForm(url, {"u=acc", "p=pw", "lstidmsg=103\r\n"}), "second");
  EXPECT_EQ(client.HttpGet("https://" + peer.Base() + "/after"), "after");

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string body = "u=acc&p=p+w&lstidmsg=101%0D%0A102%0D%0A";
  EXPECT_EQ(requests[0],
            "POST /envoi/sms/export.php HTTP/1.0\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Content-Length: " +
                std::to_string(body.size()) +
                "\r\n"
                "Host: " +
                peer.Base() + "\r\n" + kCommonHeaders + "\r\n" + body);
  EXPECT_EQ(requests[2],
            "GET /after HTTP/1.1\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\n"
            "Host: " +
                peer.Base() + "\r\n" + kCommonHeaders + "\r\n")
      << "the first form POST changes the content type of later requests";
  EXPECT_EQ(peer.ConnectionsOfRequests(), (std::vector<std::string>{"c01", "c02", "c03"}))
      << "every POST opens a new connection, even to a kept-alive place";
}

TEST_F(HttpClientPeer, PostOverPlainHttpCarriesConnectionKeepAlive) {
  ScriptedPeer peer(
      {{"HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\nA", "keep"},
       {Ok("B"), "keep"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  EXPECT_EQ(client.HttpPostForm("http://" + peer.Base() + "/f", {"a=1"}), "A");
  EXPECT_TRUE(client.Connected()) << "an HTTP/1.0 reply with keep-alive keeps the connection";
  EXPECT_EQ(client.HttpGet("http://" + peer.Base() + "/g"), "B");
  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, 42), "POST /f HTTP/1.0\r\nConnection: keep-alive\r\n");
  EXPECT_EQ(peer.ConnectionsOfRequests(), (std::vector<std::string>{"c01", "c01"}));
}

TEST_F(HttpClientPeer, CookiesComeBackAndRedirectsAndRefusalsAreProtocolErrors) {
  ScriptedPeer peer({{Ok("one", "Set-Cookie: sid=abc; Path=/\r\n"), "keep"},
                     {"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/elsewhere\r\n"
                      "Content-Length: 5\r\n\r\nmoved",
                      "keep"},
                     {"HTTP/1.1 401 Unauthorized\r\nContent-Length: 4\r\n\r\nnope", "keep"},
                     {"HTTP/1.1 404 Not Found\r\nContent-Type: text/plain\r\n"
                      "Content-Length: 7\r\n\r\nabsent\xE9",
                      "keep"},
                     {"HTTP/1.1 304 Not Modified\r\n\r\n", "keep"},
                     {Ok("still usable"), "close"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string base = "http://" + peer.Base();
  EXPECT_EQ(client.HttpGet(base + "/a"), "one");
  for (const auto& [path, line, body] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"/b", "HTTP/1.1 302 Found", "moved"},
           {"/c", "HTTP/1.1 401 Unauthorized", "nope"},
           {"/d", "HTTP/1.1 404 Not Found", "absenté"},
           {"/e", "HTTP/1.1 304 Not Modified", ""}}) {
    try {
      client.HttpGet(base + path);
      ADD_FAILURE() << path << " gave no error";
    } catch (const HttpProtocolError& error) {
      EXPECT_EQ(error.Message(), line);
      EXPECT_EQ(error.Code(), std::stoi(line.substr(9, 3)));
      EXPECT_EQ(error.Body(), body);
    }
  }
  EXPECT_EQ(client.HttpGet(base + "/f"), "still usable");
  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 6u) << "the redirect is not followed, the 401 not retried";
  EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_NE(requests[i].find("\r\nCookie: sid=abc\r\n"), std::string::npos) << i;
  }
  EXPECT_EQ(peer.ConnectionsOfRequests(),
            (std::vector<std::string>{"c01", "c01", "c01", "c01", "c01", "c01"}))
      << "protocol errors leave a kept-alive connection in step";
}

TEST_F(HttpClientPeer, ChunksContinueRepliesAndNulAreReadAndACutBodyFails) {
  ScriptedPeer peer(
      {{"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n\r\n"
        "5\r\nd\xC3\xA9j\xC3\r\n3;x=y\r\n\xA0\x00Z\r\n0\r\nX-Trailer: t\r\n\r\n"s,
        "keep"},
       {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\ncut short", "close"},
       {"HTTP/1.0 200 OK\r\n\r\nread until the close", "close"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string base = "http://" + peer.Base();
  EXPECT_EQ(client.HttpGet(base + "/chunked"), std::string("déjà\0Z", 8));
  // A clean close before the announced length is a failed request, not a short reply.
  EXPECT_EQ(ErrorOf([&] { client.HttpGet(base + "/cut"); }),
            "Connexion fermée par le serveur avant la fin de la réponse : 9 octets reçus sur "
            "100 annoncés.");
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.HttpGet(base + "/close"), "read until the close");

  // The same over TLS, where the server closes without the closing alert: the close
  // ends a reply read until the close, but never one whose length was announced.
  ScriptedPeer tlsPeer(
      {{"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n1|x|DELIVRD\r\n2|", "close"},
       {"HTTP/1.0 200 OK\r\n\r\nuntil the close", "close"}},
      PeerOptions{.tls = cert_});
  ASSERT_NE(tlsPeer.Port(), 0);
  EXPECT_EQ(ErrorOf([&] { client.HttpPostForm("https://" + tlsPeer.Base() + "/x", {"a=b"}); }),
            "Connexion fermée par le serveur avant la fin de la réponse : 15 octets reçus sur "
            "100 annoncés.");
  EXPECT_EQ(client.HttpPostForm("https://" + tlsPeer.Base() + "/y", {"a=b"}), "until the close");
}

TEST_F(HttpClientPeer, BrokenPeersEndInTheClientsErrorTexts) {
  ScriptedPeer peer({{"", "close", 0, true},
                     {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n20\r\npart", "close"},
                     {"HTTP/1.1 200 OK\r\nX-Long: {big:100000}\r\n\r\n", "close"},
                     {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab", "reset"},
                     {"", "reset"},
                     {"NOT HTTP AT ALL\r\n\r\n", "close"},
                     {Ok("fine"), "close"}});
  ASSERT_NE(peer.Port(), 0);
  HttpClient client(TestOptions());
  const std::string base = "http://" + peer.Base();
  EXPECT_EQ(ErrorOf([&] { client.HttpGet(base + "/1"); }), "Connection Closed Gracefully.");
  EXPECT_EQ(ErrorOf([&] { client.HttpGet(base + "/2"); }), "Connection Closed Gracefully.");
  EXPECT_EQ(ErrorOf([&] { client.HttpGet(base + "/3"); }), "Max line length exceeded.");
  const std::string reset = ErrorOf([&] { client.HttpGet(base + "/4"); });
  // The reset may arrive before or after the two bytes: either the body is cut, or the
  // read fails with the system's reset code.
  if (reset != "(no error)") {
    EXPECT_EQ(reset.substr(0, 15), "Socket Error # ") << reset;
  }
  try {
    client.HttpGet(base + "/5");
    ADD_FAILURE() << "no error from a reset";
  } catch (const ESocketError& error) {
    EXPECT_NE(error.Code(), platform::TimedOutErrorCode());
    EXPECT_EQ(error.Message(), "Socket Error # " + std::to_string(error.Code()) + "\r\n" +
                                   platform::SystemErrorText(error.Code()));
  }
  try {
    client.HttpGet(base + "/6");
    ADD_FAILURE() << "no error from a garbage status line";
  } catch (const HttpProtocolError& error) {
    EXPECT_EQ(error.Message(), "NOT HTTP AT ALL");
    EXPECT_EQ(error.Code(), -1);
  }
  EXPECT_EQ(client.HttpGet(base + "/7"), "fine") << "the client stays usable";
}

TEST_F(HttpClientPeer, AStalledPeerIsBoundedByTheReadTimeoutWhileTheLoopRuns) {
  ScriptedPeer peer({{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab", "stall"}},
                    PeerOptions{.timeLimitSeconds = 10});
  ASSERT_NE(peer.Port(), 0);
  std::atomic<int> pumps{0};
  HttpClientOptions options = TestOptions(&pumps, std::chrono::milliseconds(100));
  options.waits.readTimeout = std::chrono::milliseconds(500);
  HttpClient client(options);
  const auto start = std::chrono::steady_clock::now();
  try {
    client.HttpGet("http://" + peer.Base() + "/stall");
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.Code(), platform::TimedOutErrorCode());
    EXPECT_EQ(error.Message().substr(0, 15), "Socket Error # ");
  }
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(450));
  EXPECT_LT(waited, std::chrono::seconds(5));
  EXPECT_GE(pumps.load(), 3) << "the main loop runs every read step while waiting";
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientPeer, ADrippingPeerIsBoundedByTheRequestTotalWhileTheLoopRuns) {
  // One byte every 100 ms: every read gets data well within the read bound, and the
  // whole reply would take about 10 s.
  Exchange drip{Ok(std::string(60, 'x')), "close"};
  drip.dripSeconds = 0.1;
  ScriptedPeer plainPeer({drip}, PeerOptions{.timeLimitSeconds = 30});
  ScriptedPeer tlsPeer({drip}, PeerOptions{.tls = cert_, .timeLimitSeconds = 30});
  ASSERT_NE(plainPeer.Port(), 0);
  ASSERT_NE(tlsPeer.Port(), 0);
  for (const std::string& url :
       {"http://" + plainPeer.Base() + "/drip", "https://" + tlsPeer.Base() + "/drip"}) {
    std::atomic<int> pumps{0};
    HttpClientOptions options = TestOptions(&pumps, std::chrono::milliseconds(40));
    options.waits.readTimeout = std::chrono::milliseconds(400);
    options.waits.requestTimeout = std::chrono::milliseconds(1000);
    HttpClient client(options);
    const auto start = std::chrono::steady_clock::now();
    try {
      client.HttpGet(url);
      ADD_FAILURE() << url << ": no error";
    } catch (const ESocketError& error) {
      EXPECT_EQ(error.Code(), platform::TimedOutErrorCode()) << url;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(950)) << url;
    EXPECT_LT(waited, std::chrono::milliseconds(2500)) << url;
    EXPECT_GE(pumps.load(), 5) << url << ": the loop runs while the bytes drip in";
    EXPECT_FALSE(client.Connected());
  }
}

TEST_F(HttpClientPeer, WhatThePumpRaisesEndsTheRequestAtOnceWithoutASecondTry) {
  // The second reply is late: the pump raises while the GET waits on the kept
  // connection, where a failure without any byte of answer would otherwise make the
  // client send the GET again.
  ScriptedPeer peer({{Ok("one"), "keep"}, {Ok("two"), "keep", 3.0}, {Ok("three"), "keep", 3.0}},
                    PeerOptions{.tls = cert_});
  ASSERT_NE(peer.Port(), 0);
  bool armed = false;
  HttpClientOptions options = TestOptions();
  options.waits.pump = [&armed] {
    if (armed) throw StopPending("Arrêt du service demandé.");
  };
  HttpClient client(options);
  const std::string url = "https://" + peer.Base() + "/r";
  EXPECT_EQ(client.HttpGet(url), "one");
  armed = true;
  const auto start = std::chrono::steady_clock::now();
  try {
    client.HttpGet(url);
    ADD_FAILURE() << "no error";
  } catch (const StopPending& error) {
    EXPECT_EQ(error.Message(), "Arrêt du service demandé.");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(client.Connected());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(peer.Requests().size(), 2u) << "the GET is not sent again";
  // A pump that raises something else than the client's errors ends it the same way.
  options.waits.pump = [] { throw 42; };
  HttpClient other(options);
  EXPECT_THROW(other.HttpGet(url), int);
  EXPECT_FALSE(other.Connected());
}

TEST_F(HttpClientPeer, AStopEndsTheRequestWhateverThePeerDoesAndNothingIsWrittenAfterIt) {
  // Bytes dripping every 100 ms keep every read step busy; the stop comes at 300 ms.
  Exchange drip{Ok(std::string(100, 'x')), "close"};
  drip.dripSeconds = 0.1;
  ScriptedPeer plainDrip({drip}, PeerOptions{.timeLimitSeconds = 20});
  ScriptedPeer tlsDrip({drip}, PeerOptions{.tls = cert_, .timeLimitSeconds = 20});
  ScriptedPeer fast({{Ok("fast")}}, PeerOptions{.tls = cert_, .repeatLast = true});
  // A fast peer stopped at the 4th check: after the lookup, the connect and the
  // handshake, there is one more before the POST is written.
  for (const auto& [peer, scheme, stopAtCall, sent] :
       std::vector<std::tuple<const ScriptedPeer*, std::string, int, std::size_t>>{
           {&plainDrip, "http://", 0, 1},
           {&tlsDrip, "https://", 0, 1},
           {&fast, "https://", 4, 0}}) {
    HttpClientOptions options = TestOptions();
    options.waits.requestTimeout = std::chrono::seconds(20);
    const auto start = std::chrono::steady_clock::now();
    int calls = 0;
    options.waits.stopCheck = [&, stopAtCall = stopAtCall] {
      const auto since = std::chrono::steady_clock::now() - start;
      if (stopAtCall ? ++calls >= stopAtCall : since >= std::chrono::milliseconds(300)) {
        throw StopPending("Arrêt du service demandé.");
      }
    };
    HttpClient client(options);
    const std::string url = scheme + peer->Base() + "/";
    EXPECT_EQ(ErrorOf([&] { client.HttpPostForm(url, {"a=b"}); }), "Arrêt du service demandé.")
        << url << " " << stopAtCall;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << url;
    EXPECT_EQ(peer->Requests().size(), sent) << url << " " << stopAtCall;
  }
}

TEST_F(HttpClientPeer, AStalledTlsHandshakeIsBoundedWhileTheLoopRuns) {
  Exchange silent;
  silent.stallOnAccept = true;
  ScriptedPeer peer({silent}, PeerOptions{.tls = cert_, .timeLimitSeconds = 10});
  ASSERT_NE(peer.Port(), 0);
  std::atomic<int> pumps{0};
  HttpClientOptions options = TestOptions(&pumps, std::chrono::milliseconds(100));
  options.waits.readTimeout = std::chrono::milliseconds(500);
  HttpClient client(options);
  const auto start = std::chrono::steady_clock::now();
  try {
    client.HttpPostForm("https://" + peer.Base() + "/x", {"a=b"});
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.Code(), platform::TimedOutErrorCode());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_GE(pumps.load(), 3);
  EXPECT_FALSE(client.Connected());
}

TEST_F(HttpClientPeer, ASlowReplyKeepsTheMainLoopRunning) {
  ScriptedPeer peer({{Ok("late"), "close", 0.5}});
  ASSERT_NE(peer.Port(), 0);
  std::atomic<int> pumps{0};
  HttpClient client(TestOptions(&pumps, std::chrono::milliseconds(100)));
  EXPECT_EQ(client.HttpGet("http://" + peer.Base() + "/slow"), "late");
  EXPECT_GE(pumps.load(), 3);
}

TEST_F(HttpClientPeer, ConnectFailuresAndBadUrls) {
  test::TempDir dir;
  HttpClient client(TestOptions());
  const std::uint16_t closedPort = test::FreeLoopbackPort(dir);
  try {
    client.HttpGet("http://127.0.0.1:" + std::to_string(closedPort) + "/");
    FAIL() << "no error";
  } catch (const ESocketError& error) {
    EXPECT_EQ(error.Message(), "Socket Error # " + std::to_string(error.Code()) + "\r\n" +
                                   platform::SystemErrorText(error.Code()));
    EXPECT_NE(error.Code(), platform::TimedOutErrorCode()) << "refused at once";
  }
  EXPECT_EQ(ErrorOf([&] { client.HttpGet("http:///nohost"); }), "Host not found.");
  EXPECT_EQ(ErrorOf([&] { client.HttpGet("gopher://127.0.0.1/x"); }), "Unknown Protocol");
}

TEST_F(HttpClientPeer, AConnectThatHangsEndsAfterTheBoundWithTheLoopRunning) {
  // A listener that never accepts: once its queue is full, further handshakes get no
  // answer at all.
  ScriptedPeer peer({{Ok("never")}}, PeerOptions{.neverAccept = true, .timeLimitSeconds = 15});
  ASSERT_NE(peer.Port(), 0);
  std::vector<std::unique_ptr<platform::TcpSocket>> fillers;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t error = 0;
    bool timedOut = false;
    auto socket =
        platform::TcpSocket::Connect({127, 0, 0, 1}, peer.Port(), std::chrono::milliseconds(300),
                                     std::chrono::milliseconds(50), {}, error, timedOut);
    if (!socket) break;
    fillers.push_back(std::move(socket));
  }
  std::atomic<int> pumps{0};
  HttpClientOptions options = TestOptions(&pumps);
  options.waits.connectStep = std::chrono::milliseconds(50);
  options.waits.connectTimeout = std::chrono::milliseconds(500);
  HttpClient client(options);
  EXPECT_EQ(ErrorOf([&] { client.HttpGet("http://" + peer.Base() + "/"); }), "Connect timed out.");
  EXPECT_GE(pumps.load(), 5) << "the loop runs every connect step while connecting";
}

TEST_F(HttpClientPeer, TlsFailuresGiveTheLibraryTexts) {
  ScriptedPeer tlsPeer({{"", "close", 0, true}, {Ok("tls ok"), "close"}},
                       PeerOptions{.tls = cert_});
  const Exchange plainReply{"HTTP/1.1 400 Bad Request\r\n\r\n", "close", 0, false, true};
  ScriptedPeer plainPeer({plainReply, plainReply}, PeerOptions{.repeatLast = true});
  ASSERT_NE(tlsPeer.Port(), 0);
  ASSERT_NE(plainPeer.Port(), 0);
  HttpClient client(TestOptions());
  EXPECT_EQ(ErrorOf([&] { client.HttpGet("https://" + tlsPeer.Base() + "/"); }),
            "Error connecting with SSL.\r\nEOF was observed that violates the protocol");
  const std::string wrong = ErrorOf([&] { client.HttpGet("https://" + plainPeer.Base() + "/"); });
  EXPECT_EQ(wrong.substr(0, 28), "Error connecting with SSL.\r\n") << wrong;
  EXPECT_GT(wrong.size(), 28u) << "the library's own text follows";
  EXPECT_EQ(wrong.find("SSL_connect"), std::string::npos) << wrong;
  EXPECT_EQ(client.HttpGet("https://" + tlsPeer.Base() + "/"), "tls ok");

  // A second copy of the crypto library under another name: the TLS library reports
  // into the copy it was linked with, so the texts must be read from that one.
  std::filesystem::path systemCrypto;
  for (const char* folder : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib64",
                             "/usr/lib/aarch64-linux-gnu"}) {
    if (std::filesystem::exists(std::filesystem::path(folder) / "libcrypto.so.3")) {
      systemCrypto = std::filesystem::path(folder) / "libcrypto.so.3";
      break;
    }
  }
  ASSERT_FALSE(systemCrypto.empty()) << "libcrypto.so.3 not found";
  const std::string renamed = certDir_->File("libzirvo-renamed-crypto.so");
  std::filesystem::copy_file(systemCrypto, renamed,
                             std::filesystem::copy_options::overwrite_existing);
  HttpClientOptions renamedOptions = TestOptions();
  renamedOptions.tlsLibrary = std::make_shared<TlsLibrary>(
      std::vector<platform::TlsLibraryFiles>{{renamed, {"libssl.so.3"}}});
  HttpClient renamedClient(renamedOptions);
  EXPECT_EQ(ErrorOf([&] { renamedClient.HttpGet("https://" + plainPeer.Base() + "/"); }), wrong);
}

TEST_F(HttpClientPeer, WithoutTheTlsLibraryHttpsFailsAndHttpStillWorks) {
  ScriptedPeer peer({{Ok("plain"), "close"}, {Ok("plain again"), "close"}});
  ASSERT_NE(peer.Port(), 0);
  using Installations = std::vector<platform::TlsLibraryFiles>;
  for (const auto& names : std::vector<Installations>{
           {{"libzirvo-missing-crypto.so", {"libzirvo-missing-ssl.so"}}},
           // Present files that lack the TLS functions, and a crypto file without its TLS
           // file: the real TLS file of another installation is not mixed in.
           {{"libcrypto.so.3", {"libz.so.1", "libm.so.6"}},
            {"libcrypto.so.3", {"libzirvo-missing-ssl.so"}},
            {"libzirvo-missing-crypto.so", {"libssl.so.3"}}}}) {
    HttpClientOptions options = TestOptions();
    options.tlsLibrary = std::make_shared<TlsLibrary>(names);
    HttpClient client(options);
    EXPECT_EQ(ErrorOf([&] { client.HttpPostForm("https://127.0.0.1:1/x", {"a=b"}); }),
              "Could not load SSL library.");
    EXPECT_FALSE(client.Connected());
  }
  HttpClientOptions options = TestOptions();
  options.tlsLibrary = std::make_shared<TlsLibrary>(std::vector<platform::TlsLibraryFiles>{
      {"libzirvo-missing-crypto.so", {"libzirvo-missing-ssl.so"}}});
  HttpClient client(options);
  EXPECT_EQ(ErrorOf([&] { client.HttpPostForm("https://" + peer.Base() + "/", {"a=b"}); }),
            "Could not load SSL library.");
  EXPECT_EQ(client.HttpGet("http://" + peer.Base() + "/"), "plain");
  EXPECT_EQ(ErrorOf([&] { client.HttpGet("https://" + peer.Base() + "/"); }),
            "Could not load SSL library.");
  EXPECT_EQ(client.HttpGet("http://" + peer.Base() + "/"), "plain again");
  // The POSTs that never reached a server left the client's content type alone.
  for (const std::string& request : peer.Requests()) {
    EXPECT_NE(request.find("\r\nContent-Type: text/html\r\n"), std::string::npos) << request;
  }
}

TEST(TlsLibraryLoad, TheLoadedLibraryIsNamedOnceAndAFailedLoadNamesNothing) {
  std::vector<std::string> lines;
  TlsLibrary missing(std::vector<platform::TlsLibraryFiles>{{"libzirvo-missing-crypto.so", {}}});
  missing.SetLoadReport([&](const std::string& line) { lines.push_back(line); });
  EXPECT_FALSE(missing.TryLoad());
  TlsLibrary library;
  library.SetLoadReport([&](const std::string& line) { lines.push_back(line); });
  EXPECT_TRUE(library.TryLoad());
  EXPECT_TRUE(library.TryLoad());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Bibliothèque TLS chargée : OpenSSL ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find("/libssl.so"), std::string::npos) << lines[0];
}

TEST_F(HttpClientPeer, AnEmptyProtocolKeepsThePreviousOne) {
  ScriptedPeer tlsPeer({{Ok("first"), "close"}, {Ok("second"), "close"}},
                       PeerOptions{.tls = cert_});
  ScriptedPeer plainPeer({{Ok("third"), "close"}, {Ok("fourth"), "close"}});
  ASSERT_NE(tlsPeer.Port(), 0);
  ASSERT_NE(plainPeer.Port(), 0);
  HttpClient client(TestOptions());
  EXPECT_EQ(client.HttpGet("https://" + tlsPeer.Base() + "/a"), "first");
  EXPECT_EQ(client.HttpGet("://" + tlsPeer.Base() + "/b"), "second") << "https stays https";
  EXPECT_EQ(client.HttpGet("http://" + plainPeer.Base() + "/c"), "third");
  EXPECT_EQ(client.HttpGet("://" + plainPeer.Base() + "/d"), "fourth");
}

}  // namespace
}  // namespace zirvo::net
