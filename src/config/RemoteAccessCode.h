// The proxy settings and the remote access code: before each opening of the maker's
// MySQL database the cycle obtains its password, from the settings when they hold one,
// otherwise from the maker's web server (two plain GETs, through the configured proxy),
// and hands it to the MySQL connection.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/Errors.h"
#include "base/Log.h"
#include "config/Settings.h"
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

// The address the access code is downloaded from, on `host` ("host" or "host:port"); the
// port is at the same address followed by "port".
std::string AccessCodeUrl(const std::string& host);

// What the set-up works with. Every reference must outlive the RemoteAccessCode object.
struct RemoteAccessCodeContext {
  // The service's own settings file (section Proxy is read and completed there).
  std::string settingsFile;
  // The service's HTTP client; the proxy parameters put on it stay for the process.
  net::HttpClient& http;
  Log log;
  // Gives the MySQL connection its connection string for an unscrambled password
  // (the service's InitMySQLDB).
  std::function<void(const std::string& password)> initMySQLDB;
  // Logs a caught error by kind and refreshes the state report (the service's
  // HandleDatabaseError); may raise an error of its own, which then goes on to the
  // caller of CheckProxy.
  std::function<void(const Exception&)> handleDatabaseError;
};

// What CheckProxy obtained.
struct AccessCode {
  // Unscrambled; empty when the download failed (handed to handleDatabaseError) or the
  // code is empty.
  std::string password;
  // The port text the server sent with a downloaded code, as sent; nothing uses it further.
  std::string downloadedPort;
};

// What SetupMySQLConnection leaves: the proxy keys read, and the password (empty after a
// failure, already logged).
struct AccessCodeSetup {
  ProxySettings proxy;
  std::string password;
  std::string downloadedPort;
};

// Runs on the cycle's thread, one call at a time; the HTTP requests block that thread.
class RemoteAccessCode {
 public:
  explicit RemoteAccessCode(RemoteAccessCodeContext context) : context_(std::move(context)) {}

  // Reads the five keys of section Proxy. A non-empty value is unscrambled; an empty or
  // missing key is written back empty (so the file lists it) and keeps the value
  // `previous` holds, except HTTPServer, which is emptied: emptying it in the file stops
  // the use of the proxy. A failed write raises Exception, unless a write failure handler
  // is set: the failure then goes to it and the read goes on.
  ProxySettings ReadProxySettings(ProxySettings previous);

  // A settings file that cannot be written must not stop the MySQL set-up.
  void OnSettingsWriteFailure(std::function<void(const Exception&)> handler) {
    settingsWriteFailed_ = std::move(handler);
  }

  // Prepares the MySQL password from `storedCode` (MySQLDBPwd, scrambled). Without a
  // proxy server the HTTP client's proxy server is cleared (its requests go direct from
  // now on). With no stored code, the proxy settings are put on the HTTP client and the
  // access code and port are downloaded from url and url + "port"; a failed download (a
  // proxy's refusal included) goes to handleDatabaseError and is not obtained. The code,
  // without the line break and blanks a server puts after it, is then unscrambled and
  // handed to initMySQLDB, also when empty. An HTTPPort that is not a port number raises
  // EConvertError before any request.
  AccessCode CheckProxy(const std::string& url, const std::string& storedCode,
                        const ProxySettings& proxy);

  // ReadProxySettings from `current`'s, then CheckProxy; logs a failure. Errors raised by
  // the two steps (file writes, the port conversion, handleDatabaseError's own) go on to
  // the caller.
  AccessCodeSetup SetupMySQLConnection(const std::string& url, const Settings& current);

 private:
  RemoteAccessCodeContext context_;
  std::function<void(const Exception&)> settingsWriteFailed_;
};

}  // namespace zirvo::config
