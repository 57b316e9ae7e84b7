#include "net/Connection.h"

#include <algorithm>

#include "base/Errors.h"
#include "net/NetErrors.h"

namespace zirvo::net {

namespace {

std::chrono::milliseconds Until(Deadline end) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(end -
                                                               std::chrono::steady_clock::now());
}

void Check(std::uint32_t errorCode) {
  if (errorCode != 0) throw ESocketError(errorCode);
}

void CheckStop(const WaitSettings& settings) {
  if (settings.stopCheck) settings.stopCheck();
}

void RunLoopStep(const WaitSettings& settings) {
  if (settings.pump) settings.pump();
  CheckStop(settings);
}

// How long a wait that starts now may last: its own bound, or what is left of the
// request when that comes first (then `deadlineFirst`).
std::chrono::milliseconds BoundOfWait(std::chrono::milliseconds own, Deadline deadline,
                                      bool& deadlineFirst) {
  const auto left = std::max(Until(deadline), std::chrono::milliseconds(0));
  deadlineFirst = left < own;
  return deadlineFirst ? left : own;
}

}  // namespace

Connection::Connection(std::unique_ptr<platform::TcpSocket> socket, const WaitSettings& settings,
                       Deadline deadline)
    : socket_(std::move(socket)),
      settings_(settings),
      reader_(*this),
      deadline_(deadline),
      lastLoopStep_(std::chrono::steady_clock::now()) {
  // Plain sends block, within this bound; a socket that cannot take it is not used.
  Check(socket_->SetTimeouts(settings_.readTimeout, settings_.readTimeout));
}

platform::Ipv4Address Connection::Resolve(const std::string& host, const WaitSettings& settings,
                                          Deadline deadline) {
  bool deadlineFirst = false;
  const auto bound = BoundOfWait(settings.connectTimeout, deadline, deadlineFirst);
  bool timedOut = false;
  const auto address = platform::ResolveIPv4Within(
      host, bound, settings.connectStep, [&settings] { RunLoopStep(settings); }, timedOut);
  if (timedOut && deadlineFirst) throw ESocketError(platform::TimedOutErrorCode());
  if (!address) throw Exception("Host not found.");
  CheckStop(settings);
  return *address;
}

std::unique_ptr<Connection> Connection::Open(const platform::Ipv4Address& address,
                                             std::uint16_t port, const WaitSettings& settings,
                                             Deadline deadline) {
  bool deadlineFirst = false;
  const auto bound = BoundOfWait(settings.connectTimeout, deadline, deadlineFirst);
  std::uint32_t errorCode = 0;
  bool timedOut = false;
  auto socket = platform::TcpSocket::Connect(
      address, port, bound, settings.connectStep, [&settings] { RunLoopStep(settings); }, errorCode,
      timedOut);
  if (!socket) {
    if (timedOut && deadlineFirst) throw ESocketError(platform::TimedOutErrorCode());
    if (timedOut) throw Exception("Connect timed out.");
    throw ESocketError(errorCode);
  }
  CheckStop(settings);
  return std::unique_ptr<Connection>(new Connection(std::move(socket), settings, deadline));
}

void Connection::LoopStep() {
  lastLoopStep_ = std::chrono::steady_clock::now();
  RunLoopStep(settings_);
}

void Connection::LoopStepIfDue() {
  if (std::chrono::steady_clock::now() - lastLoopStep_ >= settings_.readStep) LoopStep();
}

Deadline Connection::WaitEnd() const {
  return std::min(std::chrono::steady_clock::now() + settings_.readTimeout, deadline_);
}

void Connection::WaitForSocket(bool wantWrite, Deadline end) {
  for (;;) {
    const auto left = Until(end);
    if (left.count() <= 0) throw ESocketError(platform::TimedOutErrorCode());
    std::uint32_t errorCode = 0;
    const auto wait = std::min(settings_.readStep, left);
    const auto result =
        wantWrite ? socket_->WaitWritable(wait, errorCode) : socket_->WaitReadable(wait, errorCode);
    if (result == platform::WaitResult::kReady) {
      LoopStepIfDue();
      return;
    }
    if (result == platform::WaitResult::kFailed) throw ESocketError(errorCode);
    LoopStep();
  }
}

void Connection::StartTls(TlsContext& context, std::string_view peerName) {
  // The handshake waits for the server like one read: in steps, with the loop running,
  // within the read bound.
  const Deadline end = WaitEnd();
  Check(socket_->SetNonBlocking(true));
  tls_ = std::make_unique<TlsSession>(
      context, socket_->NativeHandle(),
      [this, end](bool wantWrite) { WaitForSocket(wantWrite, end); }, peerName);
  CheckStop(settings_);
}

void Connection::Write(std::string_view bytes) {
  CheckStop(settings_);
  const Deadline end = WaitEnd();
  if (tls_) {
    tls_->Write(bytes, [this, end](bool wantWrite) { WaitForSocket(wantWrite, end); });
    return;
  }
  // A plain send blocks in the system; its bound is cut to what is left of the request.
  const auto left = Until(end);
  if (left.count() <= 0) throw ESocketError(platform::TimedOutErrorCode());
  Check(socket_->SetTimeouts(std::min(left, settings_.readTimeout), settings_.readTimeout));
  Check(socket_->SendAll(bytes));
}

std::size_t Connection::ReadSome(char* buffer, std::size_t size) {
  if (peerClosed_) return 0;
  // Data a TLS session already holds is read without a wait.
  LoopStepIfDue();
  const Deadline end = WaitEnd();
  std::size_t got = 0;
  if (tls_) {
    got = tls_->Read(buffer, size, [this, end](bool wantWrite) { WaitForSocket(wantWrite, end); });
  } else {
    WaitForSocket(false, end);
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
