// TCP client sockets and IPv4 name resolution. Failures are reported as system error
// codes (errno, WSAGetLastError) for the caller to word; nothing here throws.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zirvo::platform {

using Ipv4Address = std::array<std::uint8_t, 4>;

// Resolves a host name or dotted address to its first IPv4 address; nothing when the
// name is unknown. May block for the resolver's own time. Any thread.
std::optional<Ipv4Address> ResolveIPv4(const std::string& host);

// Resolves like ResolveIPv4 but waits at most `bound`, in steps of `step`; `betweenSteps`
// (may be empty) runs after every step without an answer, and what it raises goes to the
// caller. Nothing when the name is unknown or when the bound passed (`timedOut` set).
// The system's lookup has neither a time-out of its own nor a way to cancel it, so it
// runs on a thread of its own: a lookup given up goes on there until the resolver
// answers, touching only the state it shares with those waiting for it, and its answer
// is dropped. A caller asking for a name whose lookup is still under way waits for that
// one rather than starting another, so a silent resolver holds at most one thread per
// name. Any thread.
std::optional<Ipv4Address> ResolveIPv4Within(const std::string& host,
                                             std::chrono::milliseconds bound,
                                             std::chrono::milliseconds step,
                                             const std::function<void()>& betweenSteps,
                                             bool& timedOut);

// The code the system uses for a timed-out operation (ETIMEDOUT, WSAETIMEDOUT).
std::uint32_t TimedOutErrorCode();

// The code of the last failed socket call of this thread, made by this layer or by a
// library working on a socket of it (a TLS library). A receive or send time-out is
// reported as TimedOutErrorCode().
std::uint32_t LastSocketError();

enum class WaitResult { kReady, kTimedOut, kFailed };

// One connected TCP stream socket. Owns its system handle and closes it when destroyed.
// Not thread-safe: one thread at a time.
// On Linux, creating the first socket makes the process ignore SIGPIPE: a write to a
// peer that has gone must end in an error code, also inside a TLS library.
class TcpSocket {
 public:
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Connects to address:port. The attempt is watched in steps of `step`; `betweenSteps`
  // (may be empty) runs after every step that saw no outcome yet. After `bound` the
  // attempt is abandoned and `timedOut` is set. On failure the result is null and
  // `errorCode` holds the system code (0 when only the bound was reached); a socket
  // whose mode or outcome cannot be read or set is a failure too, never a connect
  // without its bound. Whatever `betweenSteps` raises goes to the caller, the socket
  // closed.
  static std::unique_ptr<TcpSocket> Connect(const Ipv4Address& address, std::uint16_t port,
                                            std::chrono::milliseconds bound,
                                            std::chrono::milliseconds step,
                                            const std::function<void()>& betweenSteps,
                                            std::uint32_t& errorCode, bool& timedOut);

  // Sets the system send and receive time-outs of blocking calls. Returns 0 or the
  // system code of the failure: a caller that relies on the bound must not go on
  // without it.
  [[nodiscard]] std::uint32_t SetTimeouts(std::chrono::milliseconds send,
                                          std::chrono::milliseconds receive);

  // Waits at most `wait` until data (or the peer's close) can be read.
  WaitResult WaitReadable(std::chrono::milliseconds wait, std::uint32_t& errorCode);
  // Waits at most `wait` until bytes can be sent.
  WaitResult WaitWritable(std::chrono::milliseconds wait, std::uint32_t& errorCode);

  // Switches between blocking calls (the default) and calls that return at once.
  // Returns 0 or the system code of the failure.
  [[nodiscard]] std::uint32_t SetNonBlocking(bool nonBlocking);

  // Sends all bytes; returns 0 or the system code of the failure.
  std::uint32_t SendAll(std::string_view bytes);

  // Receives up to `size` bytes. Returns the count (0 when the peer closed) or nothing
  // with `errorCode` set.
  std::optional<std::size_t> Receive(char* buffer, std::size_t size, std::uint32_t& errorCode);

  // The system handle, for a TLS library to bind its session to. Stays owned here.
  std::intptr_t NativeHandle() const;

 private:
  struct Impl;
  explicit TcpSocket(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace zirvo::platform
