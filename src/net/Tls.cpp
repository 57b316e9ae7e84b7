#include "net/Tls.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "net/NetErrors.h"
#include "platform/Sockets.h"
#include "platform/TrustStore.h"

// The library is loaded at run time, so its headers are not needed: the few types and
// constants used are declared here, with the values every OpenSSL from 1.0.2 to 3.x
// shares.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;
struct x509_st;
struct x509_store_st;
struct X509_VERIFY_PARAM_st;
struct X509_name_st;
struct asn1_string_st;

namespace zirvo::net {

namespace {

constexpr int kSslErrorWantRead = 2;
constexpr int kSslErrorWantWrite = 3;
constexpr int kSslErrorSyscall = 5;
constexpr int kSslErrorZeroReturn = 6;
constexpr int kCtrlOptions = 32;  // 1.0.x only; later versions export SSL_CTX_set_options
constexpr int kCtrlMode = 33;
constexpr long kModeAutoRetry = 0x00000004L;
constexpr std::uint64_t kOptionNoSsl2 = 0x01000000;  // zero (meaningless) from 1.1 on
constexpr std::uint64_t kOptionNoSsl3 = 0x02000000;
constexpr std::uint64_t kOptionNoTls1 = 0x04000000;
constexpr std::uint64_t kOptionNoTls11 = 0x10000000;
constexpr unsigned long kReasonUnexpectedEof = 294;
constexpr int kVerifyPeer = 1;
constexpr int kCtrlSetHostName = 55;  // SSL_set_tlsext_host_name
constexpr long kNameTypeHostName = 0;
constexpr int kCtrlSetMinProtoVersion = 123;
constexpr long kTls12Version = 0x0303;
constexpr unsigned int kNoPartialWildcards = 0x4;
constexpr int kStrictSecurityLevel = 2;

std::mutex& LoadLock() {
  static std::mutex lock;
  return lock;
}

// OpenSSL before 1.1 leaves the locking of its shared state to the program. The locks
// live as long as the process, as the library does once loaded.
std::vector<std::mutex>* libraryLocks = nullptr;

void LockingCallback(int mode, int index, const char*, int) {
  constexpr int kLock = 1;
  if ((mode & kLock) != 0) {
    (*libraryLocks)[static_cast<std::size_t>(index)].lock();
  } else {
    (*libraryLocks)[static_cast<std::size_t>(index)].unlock();
  }
}

}  // namespace

struct TlsFunctions {
  using Method = const ssl_method_st*;
  int (*initSsl)(std::uint64_t, const void*) = nullptr;  // 1.1 and later
  int (*libraryInit)() = nullptr;                        // 1.0.x
  void (*loadErrorStrings)() = nullptr;                  // 1.0.x
  Method (*clientMethod)() = nullptr;
  ssl_ctx_st* (*ctxNew)(Method) = nullptr;
  void (*ctxFree)(ssl_ctx_st*) = nullptr;
  long (*ctxCtrl)(ssl_ctx_st*, int, long, void*) = nullptr;
  std::uint64_t (*ctxSetOptions)(ssl_ctx_st*, std::uint64_t) = nullptr;
  int (*ctxSetCipherList)(ssl_ctx_st*, const char*) = nullptr;
  ssl_st* (*sslNew)(ssl_ctx_st*) = nullptr;
  void (*sslFree)(ssl_st*) = nullptr;
  int (*setFd)(ssl_st*, int) = nullptr;
  int (*connect)(ssl_st*) = nullptr;
  int (*read)(ssl_st*, void*, int) = nullptr;
  int (*write)(ssl_st*, const void*, int) = nullptr;
  int (*getError)(const ssl_st*, int) = nullptr;
  int (*pending)(const ssl_st*) = nullptr;
  unsigned long (*errGetError)() = nullptr;
  void (*errErrorStringN)(unsigned long, char*, std::size_t) = nullptr;
  void (*errClearError)() = nullptr;

  // Certificate verification. Not required to load the library: the modes that verify
  // say so when `missing` names a function that is not there.
  struct Verification {
    std::string missing;
    x509_store_st* (*ctxGetCertStore)(const ssl_ctx_st*) = nullptr;
    void (*ctxSetVerify)(ssl_ctx_st*, int, int (*)(int, void*)) = nullptr;
    X509_VERIFY_PARAM_st* (*get0Param)(ssl_st*) = nullptr;
    int (*paramSet1Host)(X509_VERIFY_PARAM_st*, const char*, std::size_t) = nullptr;
    int (*paramSet1IpAsc)(X509_VERIFY_PARAM_st*, const char*) = nullptr;
    long (*getVerifyResult)(const ssl_st*) = nullptr;
    const char* (*verifyErrorString)(long) = nullptr;
    x509_st* (*getPeerCertificate)(const ssl_st*) = nullptr;  // a reference to free
    void (*x509Free)(x509_st*) = nullptr;
    long (*sslCtrl)(ssl_st*, int, long, void*) = nullptr;
    platform::TrustStoreFunctions trustStore;
    // Optional: what strict mode tightens, and the details of an accepted certificate.
    void (*paramSetHostFlags)(X509_VERIFY_PARAM_st*, unsigned int) = nullptr;
    Method (*flexibleClientMethod)() = nullptr;               // 1.1 and later
    void (*ctxSetSecurityLevel)(ssl_ctx_st*, int) = nullptr;  // 1.1 and later
    X509_name_st* (*getIssuerName)(const x509_st*) = nullptr;
    char* (*nameOneLine)(const X509_name_st*, char*, int) = nullptr;
    const asn1_string_st* (*get0NotAfter)(const x509_st*) = nullptr;  // 1.1 and later
    int (*timeToTm)(const asn1_string_st*, std::tm*) = nullptr;       // 1.1.1 and later
  } verification;
};

namespace {

template <typename Function>
bool Find(const platform::SharedLibraries& files, const char* name, Function& target) {
  target = reinterpret_cast<Function>(files.Find(name));
  return target != nullptr;
}

std::unique_ptr<TlsFunctions> FindFunctions(const platform::SharedLibraries& files) {
  auto f = std::make_unique<TlsFunctions>();
  const bool initialiser = Find(files, "OPENSSL_init_ssl", f->initSsl) ||
                           (Find(files, "SSL_library_init", f->libraryInit) &&
                            Find(files, "SSL_load_error_strings", f->loadErrorStrings));
  Find(files, "SSL_CTX_set_options", f->ctxSetOptions);
  const bool complete =
      initialiser && Find(files, "TLSv1_2_client_method", f->clientMethod) &&
      Find(files, "SSL_CTX_new", f->ctxNew) && Find(files, "SSL_CTX_free", f->ctxFree) &&
      Find(files, "SSL_CTX_ctrl", f->ctxCtrl) &&
      Find(files, "SSL_CTX_set_cipher_list", f->ctxSetCipherList) &&
      Find(files, "SSL_new", f->sslNew) && Find(files, "SSL_free", f->sslFree) &&
      Find(files, "SSL_set_fd", f->setFd) && Find(files, "SSL_connect", f->connect) &&
      Find(files, "SSL_read", f->read) && Find(files, "SSL_write", f->write) &&
      Find(files, "SSL_get_error", f->getError) && Find(files, "SSL_pending", f->pending) &&
      Find(files, "ERR_get_error", f->errGetError) &&
      Find(files, "ERR_error_string_n", f->errErrorStringN) &&
      Find(files, "ERR_clear_error", f->errClearError);
  if (!complete) return nullptr;

  auto& v = f->verification;
  const auto need = [&](const char* name, auto& target) {
    if (!Find(files, name, target) && v.missing.empty()) v.missing = name;
  };
  need("SSL_CTX_get_cert_store", v.ctxGetCertStore);
  need("SSL_CTX_set_verify", v.ctxSetVerify);
  need("SSL_get0_param", v.get0Param);
  need("X509_VERIFY_PARAM_set1_host", v.paramSet1Host);
  need("X509_VERIFY_PARAM_set1_ip_asc", v.paramSet1IpAsc);
  need("SSL_get_verify_result", v.getVerifyResult);
  need("X509_verify_cert_error_string", v.verifyErrorString);
  if (!Find(files, "SSL_get1_peer_certificate", v.getPeerCertificate)) {
    need("SSL_get_peer_certificate", v.getPeerCertificate);
  }
  need("X509_free", v.x509Free);
  need("SSL_ctrl", v.sslCtrl);
  // The trust store's loading names what it lacks itself (it differs by system).
  Find(files, "X509_STORE_set_default_paths", v.trustStore.storeSetDefaultPaths);
  Find(files, "d2i_X509", v.trustStore.d2iX509);
  Find(files, "X509_STORE_add_cert", v.trustStore.storeAddCert);
  Find(files, "X509_free", v.trustStore.x509Free);
  Find(files, "X509_VERIFY_PARAM_set_hostflags", v.paramSetHostFlags);
  Find(files, "TLS_client_method", v.flexibleClientMethod);
  Find(files, "SSL_CTX_set_security_level", v.ctxSetSecurityLevel);
  Find(files, "X509_get_issuer_name", v.getIssuerName);
  Find(files, "X509_NAME_oneline", v.nameOneLine);
  Find(files, "X509_get0_notAfter", v.get0NotAfter);
  Find(files, "ASN1_TIME_to_tm", v.timeToTm);

  int (*numLocks)() = nullptr;
  void (*setLockingCallback)(void (*)(int, int, const char*, int)) = nullptr;
  if (Find(files, "CRYPTO_num_locks", numLocks) &&
      Find(files, "CRYPTO_set_locking_callback", setLockingCallback) && libraryLocks == nullptr) {
    libraryLocks = new std::vector<std::mutex>(static_cast<std::size_t>(std::max(numLocks(), 1)));
    setLockingCallback(LockingCallback);
  }
  if (f->initSsl != nullptr) {
    f->initSsl(platform::TlsInitOptions(), nullptr);
  } else {
    f->libraryInit();
    f->loadErrorStrings();
  }
  return f;
}

// "Bibliothèque TLS chargée : OpenSSL 3.0.15 3 Sep 2024 (C:\...\libssl-3-x64.dll)": which
// copy of the library the process really runs, told once.
std::string LoadedLibraryLine(const platform::SharedLibraries& files) {
  const char* (*version)(int) = nullptr;
  const bool found =
      Find(files, "OpenSSL_version", version) || Find(files, "SSLeay_version", version);
  const char* text = found ? version(0) : nullptr;
  const std::string location = files.Location();
  return "Bibliothèque TLS chargée : " + std::string(text != nullptr ? text : "version inconnue") +
         (location.empty() ? "" : " (" + location + ")");
}

}  // namespace

TlsLibrary::TlsLibrary(std::vector<platform::TlsLibraryFiles> installations, Loader load)
    : installations_(std::move(installations)), load_(std::move(load)) {}
TlsLibrary::~TlsLibrary() = default;

std::shared_ptr<TlsLibrary> TlsLibrary::Process() {
  static const auto instance = std::make_shared<TlsLibrary>();
  return instance;
}

bool TlsLibrary::TryLoad() {
  std::function<void(const std::string&)> report;
  std::string line;
  bool loaded = false;
  {
    std::lock_guard<std::mutex> guard(LoadLock());
    if (functions_) return true;
    for (const auto& installation : installations_) {
      auto files = load_(installation);
      if (!files) continue;
      auto functions = FindFunctions(*files);
      if (!functions) continue;
      line = LoadedLibraryLine(*files);
      files_ = std::move(files);
      functions_ = std::move(functions);
      report = loadReport_;
      loaded = true;
      break;
    }
  }
  if (!loaded) return false;
  if (report) {
    try {
      report(line);
    } catch (const std::exception&) {
      // A line the log cannot take does not make the library unusable.
    }
  }
  return true;
}

void TlsLibrary::SetLoadReport(std::function<void(const std::string&)> report) {
  std::lock_guard<std::mutex> guard(LoadLock());
  loadReport_ = std::move(report);
}

const TlsFunctions& TlsLibrary::Require() {
  if (!TryLoad()) throw Exception("Could not load SSL library.");
  return *functions_;
}

struct TlsContext::Handle {
  struct Free {
    const TlsFunctions* f;
    void operator()(ssl_ctx_st* raw) const { f->ctxFree(raw); }
  };
  std::unique_ptr<ssl_ctx_st, Free> context;
};

struct TlsSession::Handles {
  struct SessionFree {
    const TlsFunctions* f;
    void operator()(ssl_st* raw) const { f->sslFree(raw); }
  };
  std::unique_ptr<ssl_st, SessionFree> session;
};

namespace {

// The text of the first queued library error, or empty; the queue is emptied.
std::string LibraryErrorText(const TlsFunctions& f, unsigned long& firstCode) {
  firstCode = f.errGetError();
  while (f.errGetError() != 0) {
  }
  if (firstCode == 0) return std::string();
  char text[256] = {};
  f.errErrorStringN(firstCode, text, sizeof text);
  return text;
}

bool IsUnexpectedEof(unsigned long code) {
  return (code & 0x7FFFFF) == kReasonUnexpectedEof || (code & 0xFFF) == kReasonUnexpectedEof;
}

// Why a call of the handshake, a read or a write did not succeed.
struct TlsFailure {
  enum class Kind {
    kWantRead,   // the socket must be readable before the same call is made again
    kWantWrite,  // ... writable
    kClosed,     // the peer ended the session with its closing alert
    kCut,        // the connection ended without that alert
    kSocket,     // the system failed the socket call: systemError
    kLibrary,    // anything else: the library's text, if it queued one
  };
  Kind kind = Kind::kLibrary;
  int error = 0;  // SSL_get_error's code, for a failure nothing else names
  std::uint32_t systemError = 0;
  std::string text;  // the library's first queued error, or empty
  bool Wants() const { return kind == Kind::kWantRead || kind == Kind::kWantWrite; }
};

// Reads, right after a call returned `result`, what went wrong; a failure (not a wait)
// empties the library's error queue. The library queues no error with the closing alert,
// and an empty queue, no system error or a 0 return (the system's error then being an
// old one) mean the connection ended.
TlsFailure ClassifyFailure(const TlsFunctions& f, const ssl_st* session, int result) {
  TlsFailure failure;
  failure.error = f.getError(session, result);
  if (failure.error == kSslErrorWantRead) {
    failure.kind = TlsFailure::Kind::kWantRead;
    return failure;
  }
  if (failure.error == kSslErrorWantWrite) {
    failure.kind = TlsFailure::Kind::kWantWrite;
    return failure;
  }
  // The system's error first: reading the library's queue may overwrite it.
  failure.systemError = platform::LastSocketError();
  unsigned long code = 0;
  failure.text = LibraryErrorText(f, code);
  if (failure.error == kSslErrorZeroReturn) {
    failure.kind = TlsFailure::Kind::kClosed;
  } else if (failure.error == kSslErrorSyscall && code == 0) {
    failure.kind = result == 0 || failure.systemError == 0 ? TlsFailure::Kind::kCut
                                                           : TlsFailure::Kind::kSocket;
  } else if (IsUnexpectedEof(code)) {
    failure.kind = TlsFailure::Kind::kCut;
  }
  return failure;
}

constexpr char kConnectFailure[] = "Error connecting with SSL.\r\n";
constexpr char kEofText[] = "EOF was observed that violates the protocol";

// Whether a URL's host is an address: an IPv6 literal or four decimal numbers. A name
// is checked against the certificate's DNS names and goes out as the server name; an
// address is checked against its IP entries and never goes out.
bool IsAddressLiteral(std::string_view host) {
  if (host.find(':') != std::string_view::npos) return true;
  int dots = 0;
  for (const char c : host) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return dots == 3;
}

// Why verification cannot run with this library, or empty.
std::string VerificationUnavailable(const TlsFunctions& f) {
  if (f.verification.missing.empty()) return {};
  return "fonction " + f.verification.missing + " absente de la bibliothèque TLS chargée";
}

std::string VerifyErrorText(const TlsFunctions& f, long result) {
  const char* text = f.verification.verifyErrorString(result);
  return text != nullptr ? text : "erreur de vérification " + std::to_string(result);
}

void DescribeCertificate(const TlsFunctions& f, x509_st* certificate, TlsPeerVerdict& verdict) {
  const auto& v = f.verification;
  if (v.getIssuerName != nullptr && v.nameOneLine != nullptr) {
    char issuer[512] = {};
    if (v.nameOneLine(v.getIssuerName(certificate), issuer, sizeof issuer) != nullptr) {
      verdict.issuer = issuer;
    }
  }
  std::tm end{};
  if (v.get0NotAfter != nullptr && v.timeToTm != nullptr &&
      v.timeToTm(v.get0NotAfter(certificate), &end) == 1) {
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &end);
    verdict.notAfter = text;
  }
}

}  // namespace

TlsContext::TlsContext(TlsLibrary& library, TlsVerification verification)
    : functions_(library.Require()),
      handle_(std::make_unique<Handle>()),
      verification_(verification) {
  const TlsFunctions& f = functions_;
  const auto& v = f.verification;
  const bool strict = verification == TlsVerification::kStrict;
  if (verification != TlsVerification::kNone) unavailable_ = VerificationUnavailable(f);
  if (strict && !unavailable_.empty()) throw Exception(kConnectFailure + unavailable_);
  f.errClearError();
  // Strict mode lets TLS 1.3 in where the library has it, TLS 1.2 being the least.
  const auto method =
      strict && v.flexibleClientMethod != nullptr ? v.flexibleClientMethod() : f.clientMethod();
  if (method == nullptr) throw Exception("Error getting SSL method.");
  handle_->context = {f.ctxNew(method), Handle::Free{&f}};
  if (!handle_->context) throw Exception("Error creating SSL context.");
  ssl_ctx_st* context = handle_->context.get();
  const std::uint64_t options = kOptionNoSsl2 | kOptionNoSsl3 | kOptionNoTls1 | kOptionNoTls11;
  if (f.ctxSetOptions != nullptr) {
    f.ctxSetOptions(context, options);
  } else {
    f.ctxCtrl(context, kCtrlOptions, static_cast<long>(options), nullptr);
  }
  f.ctxCtrl(context, kCtrlMode, kModeAutoRetry, nullptr);
  // Parts of the list that this library does not know (RC4 in recent versions) are left
  // out by the library itself; only a list that leaves nothing usable is refused.
  if (f.ctxSetCipherList(context, strict ? kStrictCipherList : kCipherList) != 1) {
    throw Exception("SetCipher failed.");
  }
  if (verification == TlsVerification::kNone || !unavailable_.empty()) return;
  if (strict) {
    if (v.flexibleClientMethod != nullptr) {
      f.ctxCtrl(context, kCtrlSetMinProtoVersion, kTls12Version, nullptr);
    }
    if (v.ctxSetSecurityLevel != nullptr) v.ctxSetSecurityLevel(context, kStrictSecurityLevel);
    v.ctxSetVerify(context, kVerifyPeer, nullptr);
  }
  // Observation keeps SSL_VERIFY_NONE: the library checks the chain all the same and
  // keeps the outcome for SSL_get_verify_result, without acting on it.
  unavailable_ = platform::LoadTrustedRoots(v.trustStore, v.ctxGetCertStore(context));
  f.errClearError();
  if (strict && !unavailable_.empty()) throw Exception(kConnectFailure + unavailable_);
}

TlsContext::~TlsContext() = default;

TlsSession::TlsSession(TlsContext& context, std::intptr_t socketHandle,
                       const SocketWait& waitForSocket, std::string_view peerName)
    : functions_(context.functions_),
      handles_(std::make_unique<Handles>()),
      strict_(context.verification_ == TlsVerification::kStrict) {
  const TlsFunctions& f = functions_;
  f.errClearError();
  handles_->session = {f.sslNew(context.handle_->context.get()), Handles::SessionFree{&f}};
  if (!handles_->session) throw Exception("Error creating SSL session.");
  ssl_st* session = handles_->session.get();
  // OpenSSL takes the socket as an int on every system, Windows' SOCKET included.
  if (f.setFd(session, static_cast<int>(socketHandle)) != 1) {
    throw Exception("Error setting File Descriptor for SSL");
  }
  bool verdictPending = false;
  if (context.verification_ != TlsVerification::kNone) {
    if (!context.unavailable_.empty()) {
      verdict_ = {TlsPeerVerdict::Outcome::kUnavailable, context.unavailable_, {}, {}};
    } else {
      verdictPending = PrepareVerification(peerName);
    }
  }
  TlsFailure failure;
  for (;;) {
    f.errClearError();
    const int result = f.connect(session);
    if (result == 1) {
      if (verdictPending) ReadVerdict();
      return;
    }
    failure = ClassifyFailure(f, session, result);
    if (!failure.Wants()) break;
    waitForSocket(failure.kind == TlsFailure::Kind::kWantWrite);
  }
  std::string text = failure.text;
  if (strict_) {
    const long verifyResult = f.verification.getVerifyResult(session);
    if (verifyResult != 0) text += " (" + VerifyErrorText(f, verifyResult) + ")";
  }
  if (failure.kind == TlsFailure::Kind::kCut) {
    text = kEofText;
  } else if (failure.kind == TlsFailure::Kind::kSocket) {
    text = ESocketError(failure.systemError).Message();
  } else if (text.empty()) {
    text = "SSL_connect: " + std::to_string(failure.error);
  }
  throw Exception("Error connecting with SSL.\r\n" + text);
}

bool TlsSession::PrepareVerification(std::string_view peerName) {
  const auto& v = functions_.verification;
  ssl_st* session = handles_->session.get();
  const std::string name(peerName);
  X509_VERIFY_PARAM_st* parameters = v.get0Param(session);
  bool named = true;
  if (IsAddressLiteral(name)) {
    named = v.paramSet1IpAsc(parameters, name.c_str()) == 1;
  } else if (!name.empty()) {
    if (v.paramSetHostFlags != nullptr) v.paramSetHostFlags(parameters, kNoPartialWildcards);
    named = v.paramSet1Host(parameters, name.data(), name.size()) == 1;
    if (named && strict_) {
      named = v.sslCtrl(session, kCtrlSetHostName, kNameTypeHostName,
                        const_cast<char*>(name.c_str())) == 1;
    }
  }
  functions_.errClearError();
  if (named) return true;
  const std::string reason = "nom d'hôte inutilisable pour la vérification : " + name;
  if (strict_) throw Exception(kConnectFailure + reason);
  verdict_ = {TlsPeerVerdict::Outcome::kRefused, reason, {}, {}};
  return false;
}

void TlsSession::ReadVerdict() {
  const auto& v = functions_.verification;
  ssl_st* session = handles_->session.get();
  x509_st* certificate = v.getPeerCertificate(session);
  if (certificate == nullptr) {
    verdict_ = {TlsPeerVerdict::Outcome::kRefused, "aucun certificat présenté", {}, {}};
    return;
  }
  const long result = v.getVerifyResult(session);
  if (result == 0) {
    verdict_.outcome = TlsPeerVerdict::Outcome::kAccepted;
    DescribeCertificate(functions_, certificate, verdict_);
  } else {
    verdict_ = {TlsPeerVerdict::Outcome::kRefused, VerifyErrorText(functions_, result), {}, {}};
  }
  v.x509Free(certificate);
}

TlsSession::~TlsSession() = default;

std::size_t TlsSession::Pending() const {
  const int pending = functions_.pending(handles_->session.get());
  return pending > 0 ? static_cast<std::size_t>(pending) : 0;
}

std::size_t TlsSession::Read(char* buffer, std::size_t size, const SocketWait& waitForSocket) {
  const TlsFunctions& f = functions_;
  const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
  for (;;) {
    f.errClearError();
    const int result = f.read(handles_->session.get(), buffer, chunk);
    if (result > 0) return static_cast<std::size_t>(result);
    const TlsFailure failure = ClassifyFailure(f, handles_->session.get(), result);
    // The socket does not block: the library needs more of it, and the wait is ours.
    if (failure.Wants()) {
      waitForSocket(failure.kind == TlsFailure::Kind::kWantWrite);
      continue;
    }
    switch (failure.kind) {
      case TlsFailure::Kind::kClosed:
        return 0;
      case TlsFailure::Kind::kCut:
        // Servers often close without the closing alert; for a reply read until the
        // close, that is the end of the data, not a failure. Strict mode takes it for
        // what it may also be: a reply cut short by someone on the way.
        if (strict_) throw Exception(kEofText);
        return 0;
      case TlsFailure::Kind::kSocket:
        throw ESocketError(failure.systemError);
      default:
        throw Exception(failure.text.empty() ? "SSL_read: " + std::to_string(failure.error)
                                             : failure.text);
    }
  }
}

void TlsSession::Write(std::string_view bytes, const SocketWait& waitForSocket) {
  const TlsFunctions& f = functions_;
  while (!bytes.empty()) {
    f.errClearError();
    const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20));
    const int result = f.write(handles_->session.get(), bytes.data(), chunk);
    if (result > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(result));
      continue;
    }
    const TlsFailure failure = ClassifyFailure(f, handles_->session.get(), result);
    // The library wants the same bytes again once the socket is ready.
    if (failure.Wants()) {
      waitForSocket(failure.kind == TlsFailure::Kind::kWantWrite);
      continue;
    }
    if (failure.kind == TlsFailure::Kind::kSocket) throw ESocketError(failure.systemError);
    if (!failure.text.empty()) throw Exception(failure.text);
    // Nothing more specific is known: the peer has ended the session.
    if (failure.kind == TlsFailure::Kind::kClosed || failure.kind == TlsFailure::Kind::kCut) {
      throw Exception("Connection Closed Gracefully.");
    }
    throw Exception("SSL_write: " + std::to_string(failure.error));
  }
}

}  // namespace zirvo::net
