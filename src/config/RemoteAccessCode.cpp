#include "config/RemoteAccessCode.h"

#include <limits>

#include "base/StringUtils.h"
#include "config/Common.h"
#include "config/IniFile.h"

namespace zirvo::config {

std::uint16_t ProxyPortFromText(std::string_view text) {
  std::uint32_t port = 0;
  bool valid = !text.empty() && text.size() <= 5;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      valid = false;
      break;
    }
    port = port * 10 + static_cast<std::uint32_t>(c - '0');
  }
  // A port beyond 65535 would otherwise wrap silently into another, valid-looking port.
  if (!valid || port > std::numeric_limits<std::uint16_t>::max()) {
    throw EConvertError("« " + std::string(text) +
                        " » n'est pas un port de proxy valide (clé HTTPPort de la section "
                        "Proxy) : un nombre décimal de 0 à 65535 est attendu.");
  }
  return static_cast<std::uint16_t>(port);
}

namespace {

// The text without trailing CR, LF, blanks and tabs.
std::string_view TrimTrailingLineEnds(std::string_view text) {
  const auto end = text.find_last_not_of(" \t\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

}  // namespace

std::string AccessCodeUrl(const std::string& host) {
  // Put together from pieces so that the address never stands whole in the program file.
  std::string url = "onnexi";
  url = "http://" + host + "/c" + url;
  url += "on";
  return url;
}

ProxySettings RemoteAccessCode::ReadProxySettings(ProxySettings settings) {
  IniFile own(context_.settingsFile);
  // True when the key is empty or absent.
  const auto readKey = [&](const char* key, const std::function<void(std::string)>& store) {
    const std::string value = own.ReadString(kProxySection, key, "");
    if (value.empty()) {
      try {
        own.WriteString(kProxySection, key, "");
      } catch (const Exception& error) {
        if (!settingsWriteFailed_) throw;
        settingsWriteFailed_(error);
      }
    } else {
      store(UnscramblePassword(value));
    }
    return value.empty();
  };
  // An emptied server key means no proxy from now on (the other keys mean nothing
  // without a server, so they may keep what an earlier read left).
  if (readKey("HTTPServer", [&](std::string value) { settings.HTTPServer = std::move(value); })) {
    settings.HTTPServer.clear();
  }
  readKey("HTTPUserName", [&](std::string value) { settings.HTTPUserName = std::move(value); });
  readKey("HTTPPassword", [&](std::string value) { settings.HTTPPassword = std::move(value); });
  readKey("HTTPPort", [&](std::string value) { settings.HTTPPort = std::move(value); });
  readKey("HTTPBasicAuthentification",
          [&](const std::string& value) { settings.HTTPBasicAuthentification = value == "true"; });
  context_.log.DebugLine(kProxyReadMessage);
  return settings;
}

AccessCode RemoteAccessCode::CheckProxy(const std::string& url, const std::string& storedCode,
                                        const ProxySettings& settings) {
  // The client keeps its proxy for the gateway's requests too: without a server in the
  // settings it must go direct, also in a cycle that downloads nothing.
  if (TrimControl(settings.HTTPServer).empty()) context_.http.Proxy().proxyServer.clear();
  AccessCode result;
  std::string code = storedCode;
  if (code.empty()) {
    net::ProxyParams& proxy = context_.http.Proxy();
    proxy.proxyServer = std::string(TrimControl(settings.HTTPServer));
    proxy.proxyUsername = std::string(TrimControl(settings.HTTPUserName));
    proxy.proxyPassword = settings.HTTPPassword;
    proxy.basicAuthentication = settings.HTTPBasicAuthentification;
    if (settings.HTTPPort != "0" && !settings.HTTPPort.empty()) {
      proxy.proxyPort = ProxyPortFromText(settings.HTTPPort);
    }
    try {
      // Web servers end the text with a line break; the scrambled form has none.
      code = std::string(TrimTrailingLineEnds(context_.http.HttpGet(url)));
      context_.log.DebugLine(kAccessCodeDownloadedMessage);
      result.downloadedPort = context_.http.HttpGet(url + "port");
    } catch (const Exception& error) {
      context_.handleDatabaseError(error);
      return result;
    }
  }
  result.password = UnscramblePassword(code);
  context_.initMySQLDB(result.password);
  context_.log.DebugLine(kProxyCheckedMessage);
  return result;
}

AccessCodeSetup RemoteAccessCode::SetupMySQLConnection(const std::string& url,
                                                       const Settings& current) {
  AccessCodeSetup setup;
  setup.proxy = ReadProxySettings(current.Proxy);
  AccessCode code = CheckProxy(url, current.MySQLDBPwd, setup.proxy);
  setup.downloadedPort = std::move(code.downloadedPort);
  if (!code.password.empty()) {
    setup.password = std::move(code.password);
  } else {
    context_.log.Line(kMySQLSetupFailedMessage);
  }
  return setup;
}

}  // namespace zirvo::config
