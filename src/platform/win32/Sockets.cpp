#include "platform/Sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <mutex>

namespace zirvo::platform {

namespace {

// Winsock must be started once per process before any other call; it stays started
// until the process ends.
void EnsureWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

class Win32Socket {
 public:
  explicit Win32Socket(SOCKET handle) : handle_(handle) {}
  ~Win32Socket() {
    if (handle_ != INVALID_SOCKET) closesocket(handle_);
  }
  Win32Socket(const Win32Socket&) = delete;
  Win32Socket& operator=(const Win32Socket&) = delete;
  SOCKET Get() const { return handle_; }

 private:
  SOCKET handle_;
};

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

timeval ToTimeval(std::chrono::milliseconds value) {
  timeval result{};
  result.tv_sec = static_cast<long>(value.count() / 1000);
  result.tv_usec = static_cast<long>((value.count() % 1000) * 1000);
  return result;
}

}  // namespace

struct TcpSocket::Impl {
  explicit Impl(SOCKET handle) : socket(handle) {}
  Win32Socket socket;
};

TcpSocket::TcpSocket(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TcpSocket::~TcpSocket() = default;

std::optional<Ipv4Address> ResolveIPv4(const std::string& host) {
  EnsureWinsock();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* raw = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) {
    return std::nullopt;
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
  const auto* address = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
  Ipv4Address result;
  std::memcpy(result.data(), &address->sin_addr.s_addr, 4);
  return result;
}

std::uint32_t TimedOutErrorCode() { return WSAETIMEDOUT; }

std::uint32_t LastSocketError() {
  const int code = WSAGetLastError();
  return code == WSAEWOULDBLOCK ? static_cast<std::uint32_t>(WSAETIMEDOUT)
                                : static_cast<std::uint32_t>(code);
}

std::unique_ptr<TcpSocket> TcpSocket::Connect(const Ipv4Address& address, std::uint16_t port,
                                              std::chrono::milliseconds bound,
                                              std::chrono::milliseconds step,
                                              const std::function<void()>& betweenSteps,
                                              std::uint32_t& errorCode, bool& timedOut) {
  EnsureWinsock();
  errorCode = 0;
  timedOut = false;
  auto impl = std::make_unique<Impl>(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const SOCKET handle = impl->socket.Get();
  if (handle == INVALID_SOCKET) {
    errorCode = LastSocketError();
    return nullptr;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  std::memcpy(&target.sin_addr.s_addr, address.data(), 4);

  // A non-blocking connect lets the caller keep its message loop running while the
  // handshake is under way, and lets us give up after the bound.
  u_long nonBlocking = 1;
  if (ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
    errorCode = LastSocketError();
    return nullptr;
  }
  if (connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
      errorCode = LastSocketError();
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
      fd_set writable;
      fd_set failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(handle, &writable);
      FD_SET(handle, &failed);
      timeval waitValue = ToTimeval(wait);
      const int ready = select(0, nullptr, &writable, &failed, &waitValue);
      if (ready == SOCKET_ERROR) {
        errorCode = LastSocketError();
        return nullptr;
      }
      if (ready > 0) {
        // Winsock reports a refused connect in the exception set, not as writable.
        if (FD_ISSET(handle, &failed)) {
          int socketError = 0;
          int length = sizeof socketError;
          if (getsockopt(handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError),
                         &length) != 0) {
            errorCode = LastSocketError();
            return nullptr;
          }
          errorCode = socketError != 0 ? static_cast<std::uint32_t>(socketError)
                                       : static_cast<std::uint32_t>(WSAECONNREFUSED);
          return nullptr;
        }
        break;
      }
      if (betweenSteps) betweenSteps();
    }
  }
  nonBlocking = 0;
  if (ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) {
    errorCode = LastSocketError();
    return nullptr;
  }
  return std::unique_ptr<TcpSocket>(new TcpSocket(std::move(impl)));
}

std::uint32_t TcpSocket::SetTimeouts(std::chrono::milliseconds send,
                                     std::chrono::milliseconds receive) {
  const DWORD sendValue = static_cast<DWORD>(send.count());
  const DWORD receiveValue = static_cast<DWORD>(receive.count());
  if (setsockopt(impl_->socket.Get(), SOL_SOCKET, SO_SNDTIMEO,
                 reinterpret_cast<const char*>(&sendValue), sizeof sendValue) != 0 ||
      setsockopt(impl_->socket.Get(), SOL_SOCKET, SO_RCVTIMEO,
                 reinterpret_cast<const char*>(&receiveValue), sizeof receiveValue) != 0) {
    return LastSocketError();
  }
  return 0;
}

WaitResult TcpSocket::WaitReadable(std::chrono::milliseconds wait, std::uint32_t& errorCode) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(impl_->socket.Get(), &readable);
  timeval waitValue = ToTimeval(wait);
  const int ready = select(0, &readable, nullptr, nullptr, &waitValue);
  if (ready == SOCKET_ERROR) {
    errorCode = LastSocketError();
    return WaitResult::kFailed;
  }
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

WaitResult TcpSocket::WaitWritable(std::chrono::milliseconds wait, std::uint32_t& errorCode) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(impl_->socket.Get(), &writable);
  timeval waitValue = ToTimeval(wait);
  const int ready = select(0, nullptr, &writable, nullptr, &waitValue);
  if (ready == SOCKET_ERROR) {
    errorCode = LastSocketError();
    return WaitResult::kFailed;
  }
  return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReady;
}

std::uint32_t TcpSocket::SetNonBlocking(bool nonBlocking) {
  u_long value = nonBlocking ? 1 : 0;
  return ioctlsocket(impl_->socket.Get(), FIONBIO, &value) != 0 ? LastSocketError() : 0;
}

std::uint32_t TcpSocket::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int sent = send(impl_->socket.Get(), bytes.data(), chunk, 0);
    if (sent == SOCKET_ERROR) return LastSocketError();
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return 0;
}

std::optional<std::size_t> TcpSocket::Receive(char* buffer, std::size_t size,
                                              std::uint32_t& errorCode) {
  const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
  const int received = recv(impl_->socket.Get(), buffer, chunk, 0);
  if (received == SOCKET_ERROR) {
    errorCode = LastSocketError();
    return std::nullopt;
  }
  return static_cast<std::size_t>(received);
}

std::intptr_t TcpSocket::NativeHandle() const {
  return static_cast<std::intptr_t>(impl_->socket.Get());
}

}  // namespace zirvo::platform
