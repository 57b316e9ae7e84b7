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
// The TLS 1.2 suites of strict verification: forward secret and authenticated
// encryption only (TLS 1.3 has no others).
inline constexpr const char* kStrictCipherList =
    "ECDHE+AESGCM:ECDHE+CHACHA20:DHE+AESGCM:DHE+CHACHA20:!aNULL:!eNULL:!PSK:!SRP:!DSS";

// How a client treats the server's certificate.
enum class TlsVerification {
  // Not looked at.
  kNone = 0,
  // Checked after the handshake, which stays what kNone makes, byte for byte (no server
  // name, the same suites): the outcome is only reported.
  kObserve = 1,
  // Checked during the handshake, which sends the server name and offers modern suites
  // only; a failure is a failed connection, and so is a reply cut without the closing
  // alert.
  kStrict = 2,
};

// What a session found of the server's certificate (chain to a trusted root, and the
// host name or address the client asked for).
struct TlsPeerVerdict {
  enum class Outcome {
    kNotChecked,   // kNone
    kAccepted,     // chain and name are good
    kRefused,      // `reason` says why (the library's text)
    kUnavailable,  // the library cannot check (`reason`, in French)
  };
  Outcome outcome = Outcome::kNotChecked;
  std::string reason;
  // Of an accepted certificate: its issuer ("/C=FR/O=...") and the end of its validity
  // ("2027-03-01 12:00:00 UTC"), empty when the library cannot tell.
  std::string issuer;
  std::string notAfter;
};

struct TlsFunctions;

// The TLS library of a client. Once loaded it stays loaded for the life of this object
// (the process's own instance lives as long as the process). Loading runs under a
// process-wide lock; after a successful load the object may be shared by threads.
class TlsLibrary {
 public:
  // Loads the files of one installation: the system's loader, or one that hides some
  // functions, as an older library lacks them.
  using Loader =
      std::function<std::unique_ptr<platform::SharedLibraries>(const platform::TlsLibraryFiles&)>;

  // The installations are tried in order; the first whose files load and hold every
  // required function is used.
  explicit TlsLibrary(
      std::vector<platform::TlsLibraryFiles> installations = platform::DefaultTlsLibraryNames(),
      Loader load = platform::LoadSharedLibraries);
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
  Loader load_;
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
  // With verification the trust store is loaded too; in strict mode a library that
  // cannot verify raises "Error connecting with SSL." + CR LF + the reason, while in
  // observation the sessions report it as their verdict.
  explicit TlsContext(TlsLibrary& library, TlsVerification verification = TlsVerification::kNone);
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

 private:
  friend class TlsSession;
  struct Handle;
  const TlsFunctions& functions_;
  std::unique_ptr<Handle> handle_;
  TlsVerification verification_;
  // Why this context cannot verify; empty when it can.
  std::string unavailable_;
};

// One TLS client session over a context, bound to a connected socket that the caller
// owns and keeps open longer than the session; the context must outlive it too. Freed
// when the session is destroyed. One thread at a time.
class TlsSession {
 public:
  // Builds the session, then runs the handshake at once; without verification there is
  // no server name indication. `peerName` is the host (or IPv4/IPv6 address) the
  // certificate must name. Raises Exception with the client's TLS failure texts ("Error creating
  // SSL session.", "Error connecting with SSL." + CR LF + the library's text, ...).
  // During the handshake the socket may be non-blocking: whenever the library needs
  // the socket, `waitForSocket(wantWrite)` is called and must return when it is ready
  // or raise (a time-out).
  using SocketWait = std::function<void(bool wantWrite)>;
  TlsSession(TlsContext& context, std::intptr_t socketHandle, const SocketWait& waitForSocket,
             std::string_view peerName = {});
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

  const TlsPeerVerdict& Verdict() const { return verdict_; }

 private:
  struct Handles;
  // Sets the name to check (and, in strict mode, to send); false when the verdict is
  // already known.
  bool PrepareVerification(std::string_view peerName);
  void ReadVerdict();
  const TlsFunctions& functions_;
  std::unique_ptr<Handles> handles_;
  bool strict_ = false;
  TlsPeerVerdict verdict_;
};

}  // namespace zirvo::net
