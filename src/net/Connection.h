// One client connection: a TCP socket, optionally with a TLS session over it, read
// through a ReplyReader. Waits for data in steps so that the caller's loop keeps
// running, and gives up after a bounded time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

#include "net/HttpReply.h"
#include "net/Tls.h"
#include "platform/Sockets.h"

namespace zirvo::net {

struct WaitSettings {
  // Runs between wait steps; empty when nothing needs to run (off the main thread).
  std::function<void()> pump;
  std::chrono::milliseconds connectTimeout{120000};
  std::chrono::milliseconds connectStep{125};
  std::chrono::milliseconds readStep{250};
  // Bound of every wait for data and of every send.
  std::chrono::milliseconds readTimeout{30000};
};

// Owns its socket and session; not thread-safe. The settings are borrowed and must
// outlive the connection.
class Connection : public ByteSource {
 public:
  // Resolves nothing: connects to an address. Raises Exception("Connect timed out.")
  // after the connect bound and ESocketError for a refused or failed connect.
  static std::unique_ptr<Connection> Open(const platform::Ipv4Address& address, std::uint16_t port,
                                          const WaitSettings& settings);

  // Runs the TLS handshake over the open socket (see TlsSession for its failures).
  void StartTls(TlsLibrary& library);
  bool IsTls() const { return tls_ != nullptr; }

  // Sends all bytes in one go; raises ESocketError on failure.
  void Write(std::string_view bytes);
  // Waits for data in steps of the read step, running the pump between steps; raises
  // ESocketError with the time-out code after the read bound.
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
  Connection(std::unique_ptr<platform::TcpSocket> socket, const WaitSettings& settings);
  std::unique_ptr<platform::TcpSocket> socket_;
  std::unique_ptr<TlsSession> tls_;  // destroyed before the socket it is bound to
  const WaitSettings& settings_;
  ReplyReader reader_;
  bool peerClosed_ = false;
  std::uint64_t bytesReceived_ = 0;
};

}  // namespace zirvo::net
