// The proxy settings and the remote access code: before each opening of the maker's
// MySQL database the cycle obtains its password, from the settings when they hold one,
// otherwise from the maker's web server (two plain GETs, through the configured proxy),
// and hands it to the MySQL connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "config/ServiceSettings.h"
#include "net/HttpClient.h"

namespace zirvo::config {

inline constexpr char kProxySection[] = "Proxy";
inline constexpr char kProxyReadMessage[] = "Lecture des paramètres du proxy terminée.";
inline constexpr char kAccessCodeDownloadedMessage[] =
    "Code d'accès au serveur internet téléchargé.";
inline constexpr char kProxyCheckedMessage[] = "Test des paramètres du proxy terminée.";
inline constexpr char kMySQLSetupFailedMessage[] =
    "Erreur : le paramétrage de la connexion au serveur MySQL a échoué.";

// The proxy port held by the unscrambled HTTPPort: decimal digits only, 0 to 65535.
// Anything else raises EConvertError with a French message naming the key.
std::uint16_t ProxyPortFromText(std::string_view text);

// What the set-up works with. Every reference must outlive the RemoteAccessCode object.
struct RemoteAccessCodeContext {
  // The service's own settings file (section Proxy is read and completed there).
  std::string settingsFile;
  // The service's HTTP client; the proxy parameters put on it stay for the process.
  net::HttpClient& http;
  // The process-wide settings: the proxy values and MySQLDBPwd / MySQLDBPort.
  TServiceSettings& settings;
  std::atomic<bool>& debugMode;
  std::function<void(const std::string&)> writeLog;
  // Gives the MySQL connection its connection string for an unscrambled password
  // (the service's InitMySQLDB).
  std::function<void(const std::string& password)> initMySQLDB;
  // Logs a caught error by kind and refreshes the state report (the service's
  // HandleDatabaseError); may raise an error of its own, which then goes on to the
  // caller of CheckProxy.
  std::function<void(const Exception&)> handleDatabaseError;
};

// Runs on the cycle's thread, one call at a time; the HTTP requests block that thread.
class RemoteAccessCode {
 public:
  explicit RemoteAccessCode(RemoteAccessCodeContext context) : context_(std::move(context)) {}

  // Reads the five keys of section Proxy. A non-empty value is unscrambled into memory;
  // an empty or missing key is written back empty (so the file lists it) and the value
  // in memory stays as an earlier read left it, except HTTPServer, which is emptied:
  // emptying it in the file stops the use of the proxy. A failed write raises
  // Exception, unless a write failure handler is set: the failure then goes to it and
  // the read goes on.
  void ReadProxySettings();

  // A settings file that cannot be written must not stop the MySQL set-up.
  void OnSettingsWriteFailure(std::function<void(const Exception&)> handler) {
    settingsWriteFailed_ = std::move(handler);
  }

  // Prepares the MySQL password. Without a proxy server in the settings the HTTP
  // client's proxy server is cleared (its requests go direct from now on). With
  // MySQLDBPwd empty, the proxy settings are put on the HTTP client and the access code
  // and port are downloaded from url and url + "port"; a failed download (a proxy's
  // refusal included) goes to handleDatabaseError and gives false. The access code,
  // without the line break and blanks a server puts after it, is then unscrambled into
  // MySQLDBPwd and handed to initMySQLDB, also when empty.
  // True exactly when the password is not empty. An HTTPPort that is not a port number
  // raises EConvertError before any request.
  bool CheckProxy(const std::string& url);

  // ReadProxySettings, then CheckProxy: the unscrambled password, or, after logging the
  // failure and clearing MySQLDBPwd, the empty text. Errors raised by the two steps
  // (file writes, the port conversion, handleDatabaseError's own) go on to the caller.
  std::string SetupMySQLConnection(const std::string& url);

 private:
  void Debug(const std::string& message);

  RemoteAccessCodeContext context_;
  std::function<void(const Exception&)> settingsWriteFailed_;
};

}  // namespace zirvo::config
