#include "net/HttpClient.h"

#include "base/Errors.h"
#include "base/StringUtils.h"
#include "net/FormEncoding.h"
#include "net/HttpMessage.h"
#include "net/NetErrors.h"

namespace zirvo::net {

namespace {

bool IsSuccess(int code) { return code >= 200 && code <= 299; }

// Whether a failure of a request's exchange is one of the connection (the client's own
// errors) other than a time-out.
bool IsConnectionFailure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const ESocketError& error) {
    return error.Code() != platform::TimedOutErrorCode();
  } catch (const Exception&) {
    return true;
  } catch (...) {
    return false;
  }
}

bool OffersBasic(const HeaderList& headers) {
  for (const auto& value : headers.Values("Proxy-Authenticate")) {
    if (SameText(TrimBlanks(value).substr(0, 5), "Basic")) return true;
  }
  return false;
}

}  // namespace

HttpClient::HttpClient(HttpClientOptions options)
    : options_(std::move(options)),
      tls_(options_.tlsLibrary ? options_.tlsLibrary : TlsLibrary::Process()) {
  // What the pump or the stop check raises must end the request, never make it be sent
  // again: remember that it did.
  for (auto* step : {&options_.waits.pump, &options_.waits.stopCheck}) {
    if (!*step) continue;
    *step = [this, inner = std::move(*step)] {
      try {
        inner();
      } catch (...) {
        pumpInterrupted_ = true;
        throw;
      }
    };
  }
}

HttpClient::~HttpClient() = default;

void HttpClient::SetTlsVerification(TlsVerification verification, TlsVerdictObserver observer) {
  // The context holds the mode and its copy of the trust store: it is built again, so
  // that a root installed since the last time counts. Its sessions go first.
  Disconnect();
  tlsContext_.reset();
  tlsVerification_ = verification;
  tlsObserver_ = std::move(observer);
}

void HttpClient::Disconnect() {
  connection_.reset();
  closeAfterExchange_ = false;
}

std::string HttpClient::HttpGet(std::string_view url) { return Request(url, nullptr); }

std::string HttpClient::HttpPostForm(std::string_view url, const std::vector<std::string>& fields) {
  const std::string body = EncodeFormFields(fields);
  return Request(url, &body);
}

bool HttpClient::ProxyCredentialsConfigured() const {
  return !TrimControl(proxy_.proxyPassword).empty() && !proxy_.proxyUsername.empty();
}

std::string HttpClient::ProxyAuthorization() const {
  return BasicCredentials(proxy_.proxyUsername, proxy_.proxyPassword);
}

void HttpClient::OpenSocketTo(const std::string& host, std::uint16_t port, Deadline deadline) {
  const auto address = Connection::Resolve(host, options_.waits, deadline);
  connection_ = Connection::Open(address, port, options_.waits, deadline);
}

void HttpClient::Connect(const Place& place, const Url& url, std::uint16_t port,
                         const std::string& version, Deadline deadline) {
  // The library is loaded with the first connection of the client, also a plain one;
  // only a TLS connection needs it to be there.
  if (!firstConnectionMade_) {
    firstConnectionMade_ = true;
    tls_->TryLoad();
  }
  if (place.tls) tls_->Require();
  place_ = place;
  try {
    OpenSocketTo(place.host, place.port, deadline);
    if (place.route == Route::kTunnel) EstablishTunnel(url, port, version, deadline);
    if (place.tls) {
      if (!tlsContext_) tlsContext_ = std::make_unique<TlsContext>(*tls_, tlsVerification_);
      connection_->StartTls(*tlsContext_, url.host);
      if (tlsVerification_ != TlsVerification::kNone && tlsObserver_) {
        tlsObserver_(url.host, connection_->TlsVerdict());
      }
    }
  } catch (...) {
    Disconnect();
    throw;
  }
}

void HttpClient::EstablishTunnel(const Url& url, std::uint16_t port, const std::string& version,
                                 Deadline deadline) {
  bool sendCredentials = proxy_.basicAuthentication;
  for (int round = 0;; ++round) {
    RequestHead head;
    head.method = "CONNECT";
    head.target = url.host + ":" + std::to_string(port);
    head.version = version;
    head.pragma = "no-cache";
    head.proxyConnection = "keep-alive";
    head.host = HostHeaderValue(url, port);
    head.accept = kConnectAccept;
    head.userAgent = kUserAgent;
    if (sendCredentials) head.proxyAuthorization = ProxyAuthorization();
    connection_->Write(WriteRequestHead(head));

    ReplyReader& reader = connection_->Reader();
    const auto statusLine = reader.ReadLine();
    if (!statusLine) throw Exception("Connection Closed Gracefully.");
    if (statusLine->empty()) {
      // A proxy that answers with nothing but an empty line lets the tunnel through
      // for this one exchange.
      closeAfterExchange_ = true;
      return;
    }
    ReplyHead reply;
    reply.statusLine = *statusLine;
    reply.code = StatusCodeOf(reply.statusLine);
    ReadHeaderLines(reader, reply.headers);
    if (IsSuccess(reply.code)) return;

    const std::string body = ReadReplyBody(reader, reply, false);
    if (!CanAnswerProxy(reply) || round >= kMaxAuthRounds) {
      throw HttpProtocolError(reply.code, EscapeControlBytes(reply.statusLine),
                              BodyToText(body, reply.headers.Value("Content-Type")));
    }
    sendCredentials = true;
    if (!connection_->StillUsable() ||
        !KeepsConnection(version == "1.0", reply.headers.Value("Connection"),
                         reply.headers.Value("Proxy-Connection"))) {
      OpenSocketTo(place_.host, place_.port, deadline);
    }
  }
}

HttpClient::Routing HttpClient::RouteRequest(std::string_view urlText, bool post) {
  Routing routing;
  Url& url = routing.url;
  url = ParseUrl(urlText);
  if (url.protocol.empty()) url.protocol = lastProtocol_ == "https" ? "https" : "http";
  lastProtocol_ = url.protocol;
  routing.port = EffectivePort(url);
  routing.version = post ? "1.0" : "1.1";
  routing.target = RequestTarget(url);
  Place& place = routing.place;
  place.tls = url.protocol == "https";
  if (!proxy_.proxyServer.empty()) {
    place.route = place.tls ? Route::kTunnel : Route::kProxyPlain;
    place.host = proxy_.proxyServer;
    place.port = proxy_.proxyPort;
    if (place.tls) place.tunnelTarget = url.host + ":" + std::to_string(routing.port);
  } else {
    place.host = url.host;
    place.port = routing.port;
  }
  return routing;
}

std::string HttpClient::RequestMessage(const Routing& routing, const std::string& contentType,
                                       const std::string* formBody,
                                       bool sendProxyCredentials) const {
  const Url& url = routing.url;
  const Route route = routing.place.route;
  const bool post = formBody != nullptr;
  RequestHead head;
  head.method = post ? "POST" : "GET";
  head.target = route == Route::kProxyPlain ? AbsoluteTarget(url, routing.port) : routing.target;
  head.version = routing.version;
  if (route == Route::kDirect && !routing.place.tls && routing.version == "1.0") {
    head.connection = "keep-alive";
  }
  if (route == Route::kProxyPlain && routing.version == "1.0") head.proxyConnection = "keep-alive";
  head.contentType = contentType;
  if (post) head.contentLength = formBody->size();
  head.host = HostHeaderValue(url, routing.port);
  head.accept = kAccept;
  head.acceptEncoding = WithIdentityEncoding("");
  head.userAgent = kUserAgent;
  head.authorization = BasicCredentials(kUserName, "");
  if (sendProxyCredentials) head.proxyAuthorization = ProxyAuthorization();
  head.cookie = cookies_.HeaderFor(url.host, routing.target, routing.place.tls,
                                   std::chrono::system_clock::now());
  std::string message = WriteRequestHead(head);
  if (post) message += *formBody;
  return message;
}

ReplyHead HttpClient::Exchange(const Routing& routing, const std::string& message,
                               const std::string& contentType, bool post, bool reused,
                               Deadline deadline) {
  for (bool firstAttempt = true;; firstAttempt = false) {
    const std::uint64_t receivedBefore = connection_->BytesReceived();
    try {
      connection_->Write(message);
      contentType_ = contentType;
      return ReadReplyHead(connection_->Reader());
    } catch (...) {
      // A server may close an idle kept-alive connection just as the next request
      // goes out. A GET that got no byte of answer on such a connection is sent once
      // more on a fresh one; a server that is merely silent is not asked twice, and
      // what the main loop's pump raised (a stop of the service) ends the request.
      const bool stale = reused && firstAttempt && !post && !pumpInterrupted_ &&
                         IsConnectionFailure(std::current_exception()) &&
                         connection_->BytesReceived() == receivedBefore;
      Disconnect();
      if (!stale) throw;
    }
    Connect(routing.place, routing.url, routing.port, routing.version, deadline);
  }
}

std::string HttpClient::ReadReplyRest(const Routing& routing, ReplyHead& reply) {
  const Url& url = routing.url;
  std::string body;
  try {
    for (const auto& value : reply.headers.Values("Set-Cookie")) {
      cookies_.Store(value, url.host, routing.target, std::chrono::system_clock::now(),
                     url.protocol == "https");
    }
    body = ReadReplyBody(connection_->Reader(), reply, false);
  } catch (...) {
    Disconnect();
    throw;
  }
  const bool keep = !closeAfterExchange_ && !connection_->PeerClosed() &&
                    KeepsConnection(routing.version == "1.0", reply.headers.Value("Connection"),
                                    reply.headers.Value("Proxy-Connection"));
  if (!keep) Disconnect();
  return BodyToText(body, reply.headers.Value("Content-Type"));
}

bool HttpClient::CanAnswerProxy(const ReplyHead& reply) const {
  return reply.code == 407 && ProxyCredentialsConfigured() &&
         (proxy_.basicAuthentication || OffersBasic(reply.headers));
}

std::string HttpClient::Request(std::string_view urlText, const std::string* formBody) {
  pumpInterrupted_ = false;
  const Deadline deadline = std::chrono::steady_clock::now() + options_.waits.requestTimeout;
  const bool post = formBody != nullptr;
  const Routing routing = RouteRequest(urlText, post);

  if (post) Disconnect();
  if (connection_ && (!(routing.place == place_) || !connection_->StillUsable())) Disconnect();
  // A form POST changes the client's type for good, but only once its request is written:
  // a POST that never reached a server leaves the following GETs as they were.
  const std::string contentType =
      post && IsReplaceableContentType(contentType_) ? kFormContentType : contentType_;
  // Proxy credentials go to the proxy only: inside a tunnel the request reaches the
  // server itself, which must not learn them.
  bool sendProxyCredentials =
      routing.place.route == Route::kProxyPlain && proxy_.basicAuthentication;

  for (int round = 0;; ++round) {
    const bool reused = connection_ != nullptr;
    if (reused) {
      connection_->SetDeadline(deadline);
    } else {
      Connect(routing.place, routing.url, routing.port, routing.version, deadline);
    }
    const std::string message =
        RequestMessage(routing, contentType, formBody, sendProxyCredentials);
    ReplyHead reply = Exchange(routing, message, contentType, post, reused, deadline);
    std::string text = ReadReplyRest(routing, reply);
    if (IsSuccess(reply.code)) return text;
    // A proxy that asks for credentials on a plain request is answered as it is for a
    // tunnel; its refusal page is never a reply of the server behind it.
    if (routing.place.route != Route::kProxyPlain || round >= kMaxAuthRounds ||
        !CanAnswerProxy(reply)) {
      throw HttpProtocolError(reply.code, EscapeControlBytes(reply.statusLine), std::move(text));
    }
    sendProxyCredentials = true;
  }
}

}  // namespace zirvo::net
