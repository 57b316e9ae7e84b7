// TLS 1.2 client sessions over OpenSSL, which is loaded at first use by file name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Tls.h"

namespace zirvo::net {

inline constexpr const char* kCipherList = "AES:ALL:!aNULL:!eNULL:+RC4:@STRENGTH";

struct TlsFunctions;

// The TLS library of a client. Once loaded it stays loaded for the life of this object
// (the process's own instance lives as long as the process). Loading runs under a
// process-wide lock; after a successful load the object may be shared by threads.
class TlsLibrary {
 public:
  // The installations are tried in order; the first whose files load and hold every
  // required function is used.
  explicit TlsLibrary(
      std::vector<platform::TlsLibraryFiles> installations = platform::DefaultTlsLibraryNames());
  ~TlsLibrary();
  TlsLibrary(const TlsLibrary&) = delete;
  TlsLibrary& operator=(const TlsLibrary&) = delete;

  // The instance with the system's file names that the service uses.
  static std::shared_ptr<TlsLibrary> Process();

  // Loads the files and finds the required functions at the first call that succeeds;
  // a failed load is tried again at the next call. False when a file or a required
  // function is missing.
  bool TryLoad();
  // As TryLoad, raising Exception("Could not load SSL library.") on failure.
  const TlsFunctions& Require();
  // Called once, right after the load that succeeds, with one French line naming the
  // library's version and file. Any thread.
  void SetLoadReport(std::function<void(const std::string&)> report);

 private:
  std::vector<platform::TlsLibraryFiles> installations_;
  std::unique_ptr<platform::SharedLibraries> files_;
  std::unique_ptr<TlsFunctions> functions_;
  std::function<void(const std::string&)> loadReport_;
};

// The settings every session of a client shares: TLS 1.2 only, automatic retry, the
// fixed cipher list, no verification, no client certificate. Building them costs about
// a millisecond of CPU, so a client builds them once for all its connections. Sessions
// are not resumed from one connection to the next (the library keeps no client sessions
// unless asked), so each handshake is the one a fresh context would make. Freed with its
// owner, after its sessions; used by one thread at a time, with its sessions.
class TlsContext {
 public:
  // Raises "Could not load SSL library.", "Error getting SSL method.", "Error creating
  // SSL context." or "SetCipher failed."; nothing is kept then.
  explicit TlsContext(TlsLibrary& library);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

 private:
  friend class TlsSession;
  struct Handle;
  const TlsFunctions& functions_;
  std::unique_ptr<Handle> handle_;
};

// One TLS client session over a context, bound to a connected socket that the caller
// owns and keeps open longer than the session; the context must outlive it too. Freed
// when the session is destroyed. One thread at a time.
class TlsSession {
 public:
  // Builds the session, then runs the handshake at once, without server name
  // indication. Raises Exception with the client's TLS failure texts ("Error creating
  // SSL session.", "Error connecting with SSL." + CR LF + the library's text, ...).
  // During the handshake the socket may be non-blocking: whenever the library needs
  // the socket, `waitForSocket(wantWrite)` is called and must return when it is ready
  // or raise (a time-out).
  using SocketWait = std::function<void(bool wantWrite)>;
  TlsSession(TlsContext& context, std::intptr_t socketHandle, const SocketWait& waitForSocket);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Decrypted bytes that can be read without waiting for the socket.
  std::size_t Pending() const;
  // Reads up to `size` bytes; 0 when the peer closed. The socket does not block:
  // whenever the library needs it (the rest of a record, a renegotiation),
  // `waitForSocket` is called as during the handshake, and what it raises goes to the
  // caller. Raises ESocketError on a socket failure.
  std::size_t Read(char* buffer, std::size_t size, const SocketWait& waitForSocket);
  // Writes all bytes, waiting as Read does; raises ESocketError on failure.
  void Write(std::string_view bytes, const SocketWait& waitForSocket);

 private:
  struct Handles;
  const TlsFunctions& functions_;
  std::unique_ptr<Handles> handles_;
};

}  // namespace zirvo::net
