#include "net/Tls.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/Errors.h"
#include "net/NetErrors.h"
#include "platform/Sockets.h"

// The library is loaded at run time, so its headers are not needed: the few types and
// constants used are declared here, with the values every OpenSSL from 1.0.2 to 3.x
// shares.
struct ssl_st;
struct ssl_ctx_st;
struct ssl_method_st;

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

TlsLibrary::TlsLibrary(std::vector<platform::TlsLibraryFiles> installations)
    : installations_(std::move(installations)) {}
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
      auto files = platform::LoadSharedLibraries(installation);
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
    void operator()(ssl_ctx_st* context) const { f->ctxFree(context); }
  };
  std::unique_ptr<ssl_ctx_st, Free> context;
};

struct TlsSession::Handles {
  struct SessionFree {
    const TlsFunctions* f;
    void operator()(ssl_st* session) const { f->sslFree(session); }
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

}  // namespace

TlsContext::TlsContext(TlsLibrary& library)
    : functions_(library.Require()), handle_(std::make_unique<Handle>()) {
  const TlsFunctions& f = functions_;
  f.errClearError();
  const auto method = f.clientMethod();
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
  if (f.ctxSetCipherList(context, kCipherList) != 1) throw Exception("SetCipher failed.");
}

TlsContext::~TlsContext() = default;

TlsSession::TlsSession(TlsContext& context, std::intptr_t socketHandle,
                       const SocketWait& waitForSocket)
    : functions_(context.functions_), handles_(std::make_unique<Handles>()) {
  const TlsFunctions& f = functions_;
  f.errClearError();
  handles_->session = {f.sslNew(context.handle_->context.get()), Handles::SessionFree{&f}};
  if (!handles_->session) throw Exception("Error creating SSL session.");
  ssl_st* session = handles_->session.get();
  // OpenSSL takes the socket as an int on every system, Windows' SOCKET included.
  if (f.setFd(session, static_cast<int>(socketHandle)) != 1) {
    throw Exception("Error setting File Descriptor for SSL");
  }
  int result = 0;
  int error = 0;
  for (;;) {
    f.errClearError();
    result = f.connect(session);
    if (result == 1) return;
    error = f.getError(session, result);
    if (error != kSslErrorWantRead && error != kSslErrorWantWrite) break;
    waitForSocket(error == kSslErrorWantWrite);
  }
  const std::uint32_t systemError = platform::LastSocketError();
  unsigned long code = 0;
  std::string text = LibraryErrorText(f, code);
  if (error == kSslErrorSyscall && code == 0) {
    text = result == 0 || systemError == 0 ? "EOF was observed that violates the protocol"
                                           : ESocketError(systemError).Message();
  } else if (IsUnexpectedEof(code)) {
    text = "EOF was observed that violates the protocol";
  } else if (text.empty()) {
    text = "SSL_connect: " + std::to_string(error);
  }
  throw Exception("Error connecting with SSL.\r\n" + text);
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
    const int error = f.getError(handles_->session.get(), result);
    // The socket does not block: the library needs more of it, and the wait is ours.
    if (error == kSslErrorWantRead || error == kSslErrorWantWrite) {
      waitForSocket(error == kSslErrorWantWrite);
      continue;
    }
    const std::uint32_t systemError = platform::LastSocketError();
    unsigned long code = 0;
    const std::string text = LibraryErrorText(f, code);
    if (error == kSslErrorZeroReturn) return 0;
    // Servers often close without the closing alert; for a reply read until the close,
    // that is the end of the data, not a failure.
    if (error == kSslErrorSyscall && code == 0 && (result == 0 || systemError == 0)) return 0;
    if (IsUnexpectedEof(code)) return 0;
    if (error == kSslErrorSyscall && code == 0) throw ESocketError(systemError);
    throw Exception(text.empty() ? "SSL_read: " + std::to_string(error) : text);
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
    const int error = f.getError(handles_->session.get(), result);
    // The library wants the same bytes again once the socket is ready.
    if (error == kSslErrorWantRead || error == kSslErrorWantWrite) {
      waitForSocket(error == kSslErrorWantWrite);
      continue;
    }
    const std::uint32_t systemError = platform::LastSocketError();
    unsigned long code = 0;
    const std::string text = LibraryErrorText(f, code);
    if (error == kSslErrorSyscall && code == 0 && systemError != 0) {
      throw ESocketError(systemError);
    }
    if (!text.empty()) throw Exception(text);
    // Nothing more specific is known: the peer has ended the session.
    if (error == kSslErrorZeroReturn || error == kSslErrorSyscall) {
      throw Exception("Connection Closed Gracefully.");
    }
    throw Exception("SSL_write: " + std::to_string(error));
  }
}

}  // namespace zirvo::net
