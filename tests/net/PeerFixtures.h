// Real peers for the network tests: the scripted Python HTTP/HTTPS peer, certificates
// made with the openssl command, and squid. Every peer listens on 127.0.0.1 only, ends
// by itself after a time limit and is stopped by its guard when the test ends, failed
// or not.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/Tls.h"
#include "platform/Sockets.h"
#include "support/TempDir.h"
#include "support/TestLabels.h"

namespace zirvo::test {

inline std::string PeersDirectory() { return ZIRVO_PEERS_DIR; }

inline int RunCommand(const std::string& command) { return std::system(command.c_str()); }

inline std::string ReadTextFile(const std::string& path) { return ReadFileBytes(path); }

// Waits until a file exists and is not empty; false after the wait.
inline bool WaitForFile(const std::string& path, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (std::chrono::steady_clock::now() < deadline) {
    std::error_code ignored;
    if (std::filesystem::file_size(path, ignored) > 0 && !ignored) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A process started in the background under `timeout`, so that it ends by itself; the
// guard stops it by its process id.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& command, int timeLimitSeconds, const std::string& pidFile,
                    const std::string& logFile)
      : pidFile_(pidFile) {
    RequireTestLabel("peer");
    RunCommand("timeout " + std::to_string(timeLimitSeconds) + " " + command + " >" + logFile +
               " 2>&1 & echo $! >" + pidFile);
  }
  ~BackgroundProcess() { Stop(); }
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  void Stop() {
    if (stopped_) return;
    stopped_ = true;
    const std::string pid = ReadTextFile(pidFile_);
    const auto digits = pid.find_first_not_of("0123456789\n");
    if (!pid.empty() && digits == std::string::npos) {
      RunCommand("kill " + pid.substr(0, pid.find('\n')) + " 2>/dev/null");
    }
  }

 private:
  std::string pidFile_;
  bool stopped_ = false;
};

// A self-signed certificate for "localhost", made at test time. An elliptic-curve key
// takes no time to make, where an RSA key costs a good part of a second per test process.
class TestCertificate {
 public:
  explicit TestCertificate(const TempDir& dir)
      : cert_(dir.File("cert.pem")), key_(dir.File("key.pem")) {
    made_ = RunCommand(
                "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1"
                " -subj /CN=localhost -keyout " +
                key_ + " -out " + cert_ + " >/dev/null 2>&1") == 0;
  }
  // Files made by someone else.
  TestCertificate(std::string cert, std::string key, bool made)
      : cert_(std::move(cert)), key_(std::move(key)), made_(made) {}
  bool Made() const { return made_; }
  const std::string& Cert() const { return cert_; }
  const std::string& Key() const { return key_; }

 private:
  std::string cert_;
  std::string key_;
  bool made_ = false;
};

// A test root and a certificate it issued for "localhost" only (no address), to be made
// trusted through the library's SSL_CERT_FILE variable.
class TestAuthority {
 public:
  explicit TestAuthority(const TempDir& dir) : root_(dir.File("root.pem")) {
    const std::string leafKey = dir.File("leaf.key");
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const bool made =
        RunCommand("openssl req -x509" + ec + "-days 2 -subj '/CN=Zirvo test root' -keyout " +
                   dir.File("root.key") + " -out " + root_ + " >/dev/null 2>&1") == 0 &&
        RunCommand("openssl req" + ec + "-subj /CN=localhost -keyout " + leafKey + " -out " +
                   dir.File("leaf.csr") + " >/dev/null 2>&1") == 0 &&
        RunCommand("printf 'subjectAltName=DNS:localhost\n' >" + dir.File("leaf.ext") +
                   " && openssl x509 -req -days 1 -in " + dir.File("leaf.csr") + " -CA " + root_ +
                   " -CAkey " + dir.File("root.key") + " -CAcreateserial -extfile " +
                   dir.File("leaf.ext") + " -out " + dir.File("leaf.pem") + " >/dev/null 2>&1") ==
            0;
    leaf_ = std::make_unique<TestCertificate>(dir.File("leaf.pem"), leafKey, made);
  }
  bool Made() const { return leaf_->Made(); }
  const std::string& Root() const { return root_; }
  // The certificate for "localhost" that the root issued, as the peer serves it.
  const TestCertificate& Leaf() const { return *leaf_; }

 private:
  std::string root_;
  std::unique_ptr<TestCertificate> leaf_;
};

// A test suite whose tests share one certificate, made once per suite. Tests skip when
// the openssl command cannot make it.
class CertificateSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certDir_ = new TempDir();
    cert_ = new TestCertificate(*certDir_);
  }
  static void TearDownTestSuite() {
    delete cert_;
    delete certDir_;
    cert_ = nullptr;
    certDir_ = nullptr;
  }
  void SetUp() override {
    if (!cert_->Made()) GTEST_SKIP() << "the openssl command could not make a certificate";
  }
  static inline TempDir* certDir_ = nullptr;
  static inline TestCertificate* cert_ = nullptr;
};

// A JSON string literal for any bytes: bytes above 127 become \u00XX, which the peer
// turns back into the same bytes.
inline std::string JsonString(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

struct Exchange {
  std::string reply;
  std::string then = "close";  // keep, close, reset, stall, starttls
  double delaySeconds = 0;
  bool closeOnAccept = false;
  bool sendOnAccept = false;
  bool stallOnAccept = false;
  double dripSeconds = 0;  // pause between two bytes of the reply
};

struct PeerOptions {
  const TestCertificate* tls = nullptr;        // serve TLS from the first byte
  const TestCertificate* tunnelTls = nullptr;  // certificate for "starttls"
  bool repeatLast = false;
  bool neverAccept = false;
  int timeLimitSeconds = 30;
};

// The scripted peer of tests/peers/http_peer.py, with the requests it recorded.
class ScriptedPeer {
 public:
  ScriptedPeer(const std::vector<Exchange>& script, const PeerOptions& options = {}) {
    std::string json = "[";
    for (const auto& exchange : script) {
      if (json.size() > 1) json += ",";
      json += "{\"reply\":" + JsonString(exchange.reply) +
              ",\"then\":" + JsonString(exchange.then) +
              ",\"delay\":" + std::to_string(exchange.delaySeconds) +
              ",\"drip\":" + std::to_string(exchange.dripSeconds);
      if (exchange.closeOnAccept) json += ",\"on_accept\":\"close\"";
      if (exchange.sendOnAccept) json += ",\"on_accept\":\"send\"";
      if (exchange.stallOnAccept) json += ",\"on_accept\":\"stall\"";
      json += "}";
    }
    json += "]";
    WriteFileBytes(dir_.File("script.json"), json);
    std::filesystem::create_directories(RecordDir());
    std::string command = "python3 " + PeersDirectory() + "/http_peer.py --port-file " +
                          dir_.File("port") + " --record-dir " + RecordDir() + " --script " +
                          dir_.File("script.json") + " --time-limit " +
                          std::to_string(options.timeLimitSeconds);
    if (options.tls) command += " --cert " + options.tls->Cert() + " --key " + options.tls->Key();
    if (options.tunnelTls) {
      command += " --tunnel-cert " + options.tunnelTls->Cert() + " --tunnel-key " +
                 options.tunnelTls->Key();
    }
    if (options.repeatLast) command += " --repeat-last";
    if (options.neverAccept) command += " --never-accept";
    process_ = std::make_unique<BackgroundProcess>(command, options.timeLimitSeconds + 5,
                                                   dir_.File("pid"), dir_.File("peer.log"));
    if (WaitForFile(dir_.File("port"), std::chrono::seconds(10))) {
      port_ = static_cast<std::uint16_t>(std::stoi(ReadTextFile(dir_.File("port"))));
    }
  }

  std::uint16_t Port() const { return port_; }
  std::string Base() const { return "127.0.0.1:" + std::to_string(port_); }

  // The requests received so far, in order, and the connection each came on.
  std::vector<std::string> Requests() const { return Recorded(false); }
  std::vector<std::string> ConnectionsOfRequests() const { return Recorded(true); }
  // The server names of the TLS client hellos received so far, "None" for a hello
  // without one.
  std::vector<std::string> ServerNames() const {
    std::vector<std::string> names;
    std::istringstream lines(ReadTextFile(RecordDir() + "/server-names.txt"));
    for (std::string name; std::getline(lines, name);) names.push_back(name);
    return names;
  }

 private:
  std::string RecordDir() const { return dir_.File("requests"); }
  std::vector<std::string> Recorded(bool connectionNames) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(RecordDir())) {
      const std::string name = entry.path().filename().string();
      if (name.size() > 4 && name.substr(name.size() - 4) == ".bin") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> result;
    result.reserve(names.size());
    for (const auto& name : names) {
      result.push_back(connectionNames ? name.substr(4, 3)
                                       : ReadFileBytes(RecordDir() + "/" + name));
    }
    return result;
  }

  TempDir dir_;
  std::unique_ptr<BackgroundProcess> process_;
  std::uint16_t port_ = 0;
};

// The system's TLS library with some functions hidden, as an older one lacks them.
inline std::shared_ptr<net::TlsLibrary> TlsLibraryWithout(const std::vector<std::string>& hidden) {
  class Hiding : public platform::SharedLibraries {
   public:
    Hiding(std::unique_ptr<platform::SharedLibraries> files, std::vector<std::string> hidden)
        : files_(std::move(files)), hidden_(std::move(hidden)) {}
    void* Find(const char* name) const override {
      if (std::find(hidden_.begin(), hidden_.end(), name) != hidden_.end()) return nullptr;
      return files_->Find(name);
    }

   private:
    std::unique_ptr<platform::SharedLibraries> files_;
    std::vector<std::string> hidden_;
  };
  return std::make_shared<net::TlsLibrary>(
      platform::DefaultTlsLibraryNames(),
      [hidden](
          const platform::TlsLibraryFiles& files) -> std::unique_ptr<platform::SharedLibraries> {
        auto loaded = platform::LoadSharedLibraries(files);
        if (!loaded) return nullptr;
        return std::make_unique<Hiding>(std::move(loaded), hidden);
      });
}

// A free loopback port at the time of the call.
inline std::uint16_t FreeLoopbackPort(const TempDir& dir) {
  const std::string file = dir.File("free-port");
  RunCommand(
      "python3 -c \"import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); "
      "print(s.getsockname()[1])\" >" +
      file);
  const std::string text = ReadTextFile(file);
  return text.empty() ? 0 : static_cast<std::uint16_t>(std::stoi(text));
}

// Whether something accepts TCP connections on 127.0.0.1:port.
inline bool Accepts(std::uint16_t port) {
  std::uint32_t error = 0;
  bool timedOut = false;
  return platform::TcpSocket::Connect({127, 0, 0, 1}, port, std::chrono::seconds(1),
                                      std::chrono::milliseconds(100), {}, error,
                                      timedOut) != nullptr;
}

// squid as a real proxy on a loopback port, for plain requests and CONNECT tunnels,
// with or without basic authentication (password file made with htpasswd).
class SquidProxy {
 public:
  SquidProxy(const std::string& user = {}, const std::string& password = {}) {
    const std::string work = dir_.File("squid");
    std::filesystem::create_directories(work);
    if (!user.empty()) {
      RunCommand("htpasswd -b -c " + work + "/passwd " + user + " " + password +
                 " >/dev/null 2>&1");
    }
    // A port found free may be taken by another process before squid binds it: squid then
    // says so in its log, and it is started again on another port.
    for (int attempt = 1; attempt <= 4 && !ready_; ++attempt) {
      port_ = FreeLoopbackPort(dir_);
      const std::string pidFile = work + "/squid" + std::to_string(attempt) + ".pid";
      WriteFileBytes(work + "/squid.conf", Config(work, pidFile, !user.empty()));
      std::filesystem::remove(work + "/cache.log");
      RunCommand("chown -R proxy:proxy " + work + " 2>/dev/null; chmod 755 " +
                 dir_.Path().string());
      process_.reset();  // the failed attempt's squid, before its pid file is reused
      process_ = std::make_unique<BackgroundProcess>("squid -N -f " + work + "/squid.conf", 120,
                                                     dir_.File("pid"), dir_.File("squid.out"));
      ready_ = Listening(work + "/cache.log");
    }
  }
  ~SquidProxy() {
    process_->Stop();
    // squid must be gone before its working folder is removed.
    for (int i = 0; i < 50 && Accepts(port_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  bool Ready() const { return ready_; }
  std::uint16_t Port() const { return port_; }
  std::string Log() const { return ReadTextFile(dir_.File("squid/cache.log")); }

 private:
  std::string Config(const std::string& work, const std::string& pidFile,
                     bool authenticated) const {
    std::string config = "http_port 127.0.0.1:" + std::to_string(port_) +
                         "\n"
                         "dns_nameservers 127.0.0.1\n"
                         "visible_hostname zirvo-test-proxy\n"
                         "cache deny all\n"
                         "cache_mem 8 MB\n"
                         "access_log none\n"
                         "cache_store_log none\n"
                         "cache_log " +
                         work + "/cache.log\npid_filename " + pidFile + "\ncoredump_dir " + work +
                         "\n"
                         "shutdown_lifetime 0 seconds\n"
                         "pinger_enable off\n"
                         "forward_timeout 20 seconds\n";
    if (authenticated) {
      return config + "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + work +
             "/passwd\n"
             "auth_param basic realm zirvo\n"
             "acl authenticated proxy_auth REQUIRED\n"
             "http_access allow authenticated\n"
             "http_access deny all\n";
    }
    return config + "http_access allow all\n";
  }

  // Whether this squid listens on port_: its log says so and the port answers (another
  // process holding the port would answer too). False once the log reports a clash.
  bool Listening(const std::string& cacheLog) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string log = ReadTextFile(cacheLog);
      if (log.find("Accepting HTTP Socket connections") != std::string::npos && Accepts(port_)) {
        return true;
      }
      if (log.find("Address already in use") != std::string::npos) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  TempDir dir_;
  std::uint16_t port_ = 0;
  std::unique_ptr<BackgroundProcess> process_;
  bool ready_ = false;
};

}  // namespace zirvo::test
