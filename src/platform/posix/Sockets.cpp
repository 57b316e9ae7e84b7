#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>

#include <csignal>
#include <cstring>
#include <mutex>

#include "platform/posix/UniqueFd.h"

namespace zirvo::platform {

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

timeval ToTimeval(std::chrono::milliseconds value) {
  timeval result{};
  result.tv_sec = static_cast<time_t>(value.count() / 1000);
  result.tv_usec = static_cast<suseconds_t>((value.count() % 1000) * 1000);
  return result;
}

int PollOne(int fd, short events, std::chrono::milliseconds wait, short& revents) {
  pollfd entry{fd, events, 0};
  int result;
  do {
    result = ::poll(&entry, 1, static_cast<int>(wait.count()));
  } while (result < 0 && errno == EINTR);
  revents = entry.revents;
  return result;
}

}  // namespace

struct TcpSocket::Impl {
  explicit Impl(int fd) : descriptor(fd) {}
  posix::UniqueFd descriptor;
};

TcpSocket::TcpSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TcpSocket::~TcpSocket() = default;

std::optional<Ipv4Address> ResolveIPv4(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) {
    return std::nullopt;
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  const auto* address = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  Ipv4Address result;
  std::memcpy(result.data(), &address->sin_addr.s_addr, 4);
  return result;
}

std::uint32_t TimedOutErrorCode() { return ETIMEDOUT; }

std::uint32_t LastSocketError() {
  return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : static_cast<std::uint32_t>(errno);
}

std::unique_ptr<TcpSocket> TcpSocket::Connect(const Ipv4Address& address, std::uint16_t port,
                                              std::chrono::milliseconds bound,
                                              std::chrono::milliseconds step,
                                              const std::function<void()>& betweenSteps,
                                              std::uint32_t& errorCode, bool& timedOut) {
  static std::once_flag ignorePipeSignal;
  std::call_once(ignorePipeSignal, [] { std::signal(SIGPIPE, SIG_IGN); });
  errorCode = 0;
  timedOut = false;
  auto impl = std::make_unique<Impl>(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  const int fd = impl->descriptor.Get();
  if (fd < 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return nullptr;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  std::memcpy(&target.sin_addr.s_addr, address.data(), 4);

  // A non-blocking connect lets the caller keep its own loop running while the
  // handshake is under way, and lets us give up after the bound.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return nullptr;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (errno != EINPROGRESS) {
      errorCode = static_cast<std::uint32_t>(errno);
      return nullptr;
    }
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        timedOut = true;
        return nullptr;
      }
      const auto wait = std::min<std::chrono::milliseconds>(
          step, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                    std::chrono::milliseconds(1));
      short revents = 0;
      const int ready = PollOne(fd, POLLOUT, wait, revents);
      if (ready < 0) {
        errorCode = static_cast<std::uint32_t>(errno);
        return nullptr;
      }
      if (ready > 0) break;
      if (betweenSteps) betweenSteps();
    }
    int socketError = 0;
    socklen_t length = sizeof socketError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) != 0) {
      errorCode = static_cast<std::uint32_t>(errno);
      return nullptr;
    }
    if (socketError != 0) {
      errorCode = static_cast<std::uint32_t>(socketError);
      return nullptr;
    }
  }
  if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return nullptr;
  }
  return std::unique_ptr<TcpSocket>(new TcpSocket(std::move(impl)));
}

std::uint32_t TcpSocket::SetTimeouts(std::chrono::milliseconds send,
                                     std::chrono::milliseconds receive) {
  const timeval sendValue = ToTimeval(send);
  const timeval receiveValue = ToTimeval(receive);
  const int fd = impl_->descriptor.Get();
  if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendValue, sizeof sendValue) != 0 ||
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &receiveValue, sizeof receiveValue) != 0) {
    return static_cast<std::uint32_t>(errno);
  }
  return 0;
}

WaitResult TcpSocket::WaitReadable(std::chrono::milliseconds wait, std::uint32_t& errorCode) {
  short revents = 0;
  const int ready = PollOne(impl_->descriptor.Get(), POLLIN, wait, revents);
  if (ready < 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return WaitResult::kFailed;
  }
  // Errors and hang-ups count as readable: the following receive reports them.
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

WaitResult TcpSocket::WaitWritable(std::chrono::milliseconds wait, std::uint32_t& errorCode) {
  short revents = 0;
  const int ready = PollOne(impl_->descriptor.Get(), POLLOUT, wait, revents);
  if (ready < 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    return WaitResult::kFailed;
  }
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

std::uint32_t TcpSocket::SetNonBlocking(bool nonBlocking) {
  const int fd = impl_->descriptor.Get();
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 ||
      ::fcntl(fd, F_SETFL, nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) != 0) {
    return static_cast<std::uint32_t>(errno);
  }
  return 0;
}

std::uint32_t TcpSocket::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a peer that has gone must give an error code, not kill the process.
    const ssize_t sent = ::send(impl_->descriptor.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT
                                                     : static_cast<std::uint32_t>(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return 0;
}

std::optional<std::size_t> TcpSocket::Receive(char* buffer, std::size_t size,
                                              std::uint32_t& errorCode) {
  for (;;) {
    const ssize_t received = ::recv(impl_->descriptor.Get(), buffer, size, 0);
    if (received >= 0) return static_cast<std::size_t>(received);
    if (errno == EINTR) continue;
    // A receive time-out shows as EAGAIN; report it as what it is.
    errorCode =
        errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : static_cast<std::uint32_t>(errno);
    return std::nullopt;
  }
}

std::intptr_t TcpSocket::NativeHandle() const { return impl_->descriptor.Get(); }

}  // namespace zirvo::platform
