#include "net/Connection.h"

#include "base/Errors.h"
#include "net/NetErrors.h"

namespace zirvo::net {

Connection::Connection(std::unique_ptr<platform::TcpSocket> socket, const WaitSettings& settings)
    : socket_(std::move(socket)), settings_(settings), reader_(*this) {
  socket_->SetTimeouts(settings_.readTimeout, settings_.readTimeout);
}

std::unique_ptr<Connection> Connection::Open(const platform::Ipv4Address& address,
                                             std::uint16_t port, const WaitSettings& settings) {
  std::uint32_t errorCode = 0;
  bool timedOut = false;
  auto socket =
      platform::TcpSocket::Connect(address, port, settings.connectTimeout, settings.connectStep,
                                   settings.pump, errorCode, timedOut);
  if (!socket) {
    if (timedOut) throw Exception("Connect timed out.");
    throw ESocketError(errorCode);
  }
  return std::unique_ptr<Connection>(new Connection(std::move(socket), settings));
}

void Connection::StartTls(TlsLibrary& library) {
  // The handshake waits for the server like a read: in steps, with the loop running,
  // within the read bound.
  const auto deadline = std::chrono::steady_clock::now() + settings_.readTimeout;
  const auto waitForSocket = [this, deadline](bool wantWrite) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw ESocketError(platform::TimedOutErrorCode());
      std::uint32_t errorCode = 0;
      const auto wait = std::min(settings_.readStep, left);
      const auto result = wantWrite ? socket_->WaitWritable(wait, errorCode)
                                    : socket_->WaitReadable(wait, errorCode);
      if (result == platform::WaitResult::kReady) return;
      if (result == platform::WaitResult::kFailed) throw ESocketError(errorCode);
      if (settings_.pump) settings_.pump();
    }
  };
  socket_->SetNonBlocking(true);
  tls_ = std::make_unique<TlsSession>(library, socket_->NativeHandle(), waitForSocket);
  socket_->SetNonBlocking(false);
}

void Connection::Write(std::string_view bytes) {
  if (tls_) {
    tls_->Write(bytes);
    return;
  }
  if (const std::uint32_t error = socket_->SendAll(bytes); error != 0) throw ESocketError(error);
}

std::size_t Connection::ReadSome(char* buffer, std::size_t size) {
  if (peerClosed_) return 0;
  if (!tls_ || tls_->Pending() == 0) {
    const auto deadline = std::chrono::steady_clock::now() + settings_.readTimeout;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw ESocketError(platform::TimedOutErrorCode());
      std::uint32_t errorCode = 0;
      const auto wait = std::min(settings_.readStep, left);
      const auto result = socket_->WaitReadable(wait, errorCode);
      if (result == platform::WaitResult::kReady) break;
      if (result == platform::WaitResult::kFailed) throw ESocketError(errorCode);
      if (settings_.pump) settings_.pump();
    }
  }
  std::size_t got = 0;
  if (tls_) {
    got = tls_->Read(buffer, size);
  } else {
    std::uint32_t errorCode = 0;
    const auto received = socket_->Receive(buffer, size, errorCode);
    if (!received) throw ESocketError(errorCode);
    got = *received;
  }
  if (got == 0) peerClosed_ = true;
  bytesReceived_ += got;
  return got;
}

bool Connection::StillUsable() {
  if (peerClosed_ || reader_.HasBuffered()) return false;
  if (tls_ && tls_->Pending() > 0) return false;
  std::uint32_t errorCode = 0;
  return socket_->WaitReadable(std::chrono::milliseconds(0), errorCode) ==
         platform::WaitResult::kTimedOut;
}

}  // namespace zirvo::net
