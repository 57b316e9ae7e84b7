// One client connection: a TCP socket, optionally with a TLS session over it, read
// through a ReplyReader. Waits for data in steps so that the caller's loop keeps
// running, and gives up after a bounded time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "net/HttpReply.h"
#include "net/Tls.h"
#include "platform/Sockets.h"

namespace zirvo::net {

struct WaitSettings {
  // Runs between wait steps; empty when nothing needs to run (off the main thread).
  // Whatever it raises ends the wait and goes to the caller of the request unchanged.
  std::function<void()> pump;
  // Raises when the request must be given up (the service is stopping); empty when
  // nothing stops a request. It runs after the pump at every wait step, at least every
  // read step while data keeps coming (a peer dripping bytes never holds a stop), after
  // the name lookup, the connect and the TLS handshake, and before every write, so that
  // nothing goes out once it has raised. What it raises reaches the caller unchanged.
  std::function<void()> stopCheck;
  std::chrono::milliseconds connectTimeout{120000};
  std::chrono::milliseconds connectStep{125};
  std::chrono::milliseconds readStep{250};
  // Bound of every wait for data and of every send.
  std::chrono::milliseconds readTimeout{30000};
  // Bound of one whole request, from the start of its connect to the last byte of its
  // reply: the read bound starts again at every read, so a peer that sends a byte now
  // and then would otherwise hold the request, and the cycle, for as long as it likes.
  // Past it the request fails like a read that timed out. Three minutes leave room for
  // a slow connect (its own bound is two) followed by a slow but steady reply.
  std::chrono::milliseconds requestTimeout{180000};
};

using Deadline = std::chrono::steady_clock::time_point;

// Owns its socket and session; not thread-safe. The settings are borrowed and must
// outlive the connection.
class Connection : public ByteSource {
 public:
  // The address of `host`, waiting at most the connect bound (or what is left of the
  // request) with the loop running. Raises Exception("Host not found.") for an unknown
  // name and for a lookup that outlasts the connect bound, ESocketError with the
  // time-out code when the request's deadline comes first, and what the stop check
  // raises, also once the address is known.
  static platform::Ipv4Address Resolve(const std::string& host, const WaitSettings& settings,
                                       Deadline deadline);

  // Resolves nothing: connects to an address. Raises Exception("Connect timed out.")
  // after the connect bound, ESocketError with the time-out code when the deadline of
  // the request comes first, and ESocketError for a refused or failed connect.
  static std::unique_ptr<Connection> Open(const platform::Ipv4Address& address, std::uint16_t port,
                                          const WaitSettings& settings, Deadline deadline);

  // The end of the request the connection now serves (a kept-alive connection serves
  // several); no wait goes past it.
  void SetDeadline(Deadline deadline) { deadline_ = deadline; }

  // Runs the TLS handshake over the open socket with the host the certificate must name
  // (see TlsSession for its failures). From then on the socket does not block: every
  // wait of the session, also for the rest of a record, is one of ours, bounded and
  // running the pump.
  void StartTls(TlsContext& context, std::string_view peerName);
  bool IsTls() const { return tls_ != nullptr; }
  const TlsPeerVerdict& TlsVerdict() const { return tls_->Verdict(); }

  // Sends all bytes in one go; raises ESocketError on failure, with the time-out code
  // after the send bound or the request's deadline.
  void Write(std::string_view bytes);
  // Waits for data in steps of the read step, running the pump between steps; raises
  // ESocketError with the time-out code after the read bound or the request's deadline.
  std::size_t ReadSome(char* buffer, std::size_t size) override;

  ReplyReader& Reader() { return reader_; }
  // Whether the peer has closed its side (seen by a read).
  bool PeerClosed() const { return peerClosed_; }
  // Bytes received over the connection's whole life.
  std::uint64_t BytesReceived() const { return bytesReceived_; }
  // Whether the connection can carry a next request: not closed by the peer and with
  // nothing unread (unexpected bytes would put the next reply out of step).
  bool StillUsable();

 private:
  Connection(std::unique_ptr<platform::TcpSocket> socket, const WaitSettings& settings,
             Deadline deadline);
  // The end of a wait that starts now: the read bound, or the request's deadline when
  // that comes first.
  Deadline WaitEnd() const;
  // Waits until the socket can be read (or written) in read steps, running the pump
  // between steps; raises ESocketError with the time-out code at `end`.
  void WaitForSocket(bool wantWrite, Deadline end);
  // The pump and the stop check, now, or only once a read step has passed since the last
  // time they ran.
  void LoopStep();
  void LoopStepIfDue();

  std::unique_ptr<platform::TcpSocket> socket_;
  std::unique_ptr<TlsSession> tls_;  // destroyed before the socket it is bound to
  const WaitSettings& settings_;
  ReplyReader reader_;
  Deadline deadline_;
  std::chrono::steady_clock::time_point lastLoopStep_;
  bool peerClosed_ = false;
  std::uint64_t bytesReceived_ = 0;
};

}  // namespace zirvo::net
