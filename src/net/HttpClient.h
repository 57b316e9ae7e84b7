// The service's HTTP/HTTPS client (the form's `IdHTTP1`): plain GETs to the maker's web
// server and HTTPS form POSTs to the gateway, direct or through a proxy, with the
// client's fixed request headers, its cookie store and one kept-alive connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/Connection.h"
#include "net/Cookies.h"
#include "net/HttpReply.h"
#include "net/Tls.h"
#include "net/Url.h"

namespace zirvo::net {

inline constexpr const char* kAccept = "text/html, */*";
inline constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
inline constexpr const char* kUserName = "quenzar";
inline constexpr const char* kInitialContentType = "text/html";
inline constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
inline constexpr const char* kConnectAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
// Authentication rounds that a proxy's 407 to a CONNECT may cost one request.
inline constexpr int kMaxAuthRounds = 3;

// The proxy to go through. An empty server means direct connections whatever the
// other values hold.
struct ProxyParams {
  std::string proxyServer;
  std::uint16_t proxyPort = 0;
  std::string proxyUsername;
  std::string proxyPassword;
  bool basicAuthentication = false;
};

struct HttpClientOptions {
  // The waits of a request. On the service's main thread `pump` must run the main
  // loop's pending work (it is called every connect step and every read step, so the
  // loop's timed events keep running during a request); empty elsewhere. It may not
  // use this client. What it raises abandons the request at once: the connection is
  // closed, nothing of the reply is returned, the request is not sent again, and the
  // error reaches the caller of HttpGet / HttpPostForm unchanged; so does what
  // `waits.stopCheck` raises, checked also before every write. The bounds are the
  // production values (a whole request at most requestTimeout); tests shorten them.
  WaitSettings waits;
  // The TLS library; null means the process's own (system file names).
  std::shared_ptr<TlsLibrary> tlsLibrary;
};

// Told the verdict on the server's certificate after every handshake made with
// verification: the host of the URL (the server's own name, also through a proxy's
// tunnel) and what was found.
using TlsVerdictObserver = std::function<void(const std::string& host, const TlsPeerVerdict&)>;

// Lives as long as its owner (the service object); settings, cookies, credentials and
// the open connection carry over from one request to the next. One request at a time,
// from one thread. Every failure is raised as Exception (HttpProtocolError for a reply
// whose status is a failure, ESocketError for a socket failure) and leaves the client
// usable for the next request.
class HttpClient {
 public:
  explicit HttpClient(HttpClientOptions options = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // GET of the URL as written (HTTP/1.1, reusing a kept-alive connection to the same
  // place); returns the reply body as text. A proxy's 407 is answered with the proxy
  // credentials (Basic) when they are configured, at most kMaxAuthRounds times, for a
  // plain request as for a tunnel; otherwise it is an HttpProtocolError. The message of
  // an HttpProtocolError is the status line with its control bytes written "\xNN".
  std::string HttpGet(std::string_view url);
  // POST of the field lines ("name=value") as a form (HTTP/1.0, always on a new
  // connection); returns the reply body as text.
  std::string HttpPostForm(std::string_view url, const std::vector<std::string>& fields);

  // How the certificates of the next TLS connections are treated (none until set); ends
  // the open connection. The service sets it at every check, so every cycle reads the
  // trust store afresh.
  void SetTlsVerification(TlsVerification verification, TlsVerdictObserver observer);

  ProxyParams& Proxy() { return proxy_; }
  const ProxyParams& Proxy() const { return proxy_; }
  // The Content-Type sent with every request; the first form POST changes it for good.
  const std::string& ContentType() const { return contentType_; }
  const CookieStore& Cookies() const { return cookies_; }

  bool Connected() const { return connection_ != nullptr; }
  void Disconnect();

 private:
  enum class Route { kDirect, kProxyPlain, kTunnel };
  struct Place {
    Route route = Route::kDirect;
    std::string host;
    std::uint16_t port = 0;
    bool tls = false;
    std::string tunnelTarget;
    bool operator==(const Place&) const = default;
  };

  // Where one request goes and how, fixed before anything is sent.
  struct Routing {
    Url url;
    std::uint16_t port = 0;
    std::string version;
    std::string target;  // the origin-form target: the path and the query
    Place place;
  };

  // Routes, then sends in rounds: another round only to answer a plain proxy's 407.
  std::string Request(std::string_view urlText, const std::string* formBody);
  Routing RouteRequest(std::string_view urlText, bool post);
  // The request's head and body as they go out.
  std::string RequestMessage(const Routing& routing, const std::string& contentType,
                             const std::string* formBody, bool sendProxyCredentials) const;
  // Writes the message on the open connection and reads the reply's head; a connection
  // kept from an earlier request (reused) found closed is replaced once for a GET.
  ReplyHead Exchange(const Routing& routing, const std::string& message,
                     const std::string& contentType, bool post, bool reused, Deadline deadline);
  // Stores the reply's cookies, reads its body as text and keeps or ends the connection.
  std::string ReadReplyRest(const Routing& routing, ReplyHead& reply);
  // Whether a 407 can be answered with the configured proxy credentials.
  bool CanAnswerProxy(const ReplyHead& reply) const;
  void Connect(const Place& place, const Url& url, std::uint16_t port, const std::string& version,
               Deadline deadline);
  void OpenSocketTo(const std::string& host, std::uint16_t port, Deadline deadline);
  void EstablishTunnel(const Url& url, std::uint16_t port, const std::string& version,
                       Deadline deadline);
  bool ProxyCredentialsConfigured() const;
  std::string ProxyAuthorization() const;

  HttpClientOptions options_;
  std::shared_ptr<TlsLibrary> tls_;
  // Built at the first TLS connection that gets that far and kept for the next ones;
  // destroyed after the connection, whose session uses it.
  std::unique_ptr<TlsContext> tlsContext_;
  TlsVerification tlsVerification_ = TlsVerification::kNone;
  TlsVerdictObserver tlsObserver_;
  ProxyParams proxy_;
  CookieStore cookies_;
  std::string contentType_ = kInitialContentType;
  std::string lastProtocol_;
  std::unique_ptr<Connection> connection_;
  Place place_;
  bool closeAfterExchange_ = false;
  bool firstConnectionMade_ = false;
  // Set when the pump or the stop check raised during the current request.
  bool pumpInterrupted_ = false;
};

}  // namespace zirvo::net
