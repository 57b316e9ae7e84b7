// The MySQL access code: taken from the settings, or downloaded from a real HTTP peer on
// loopback, with the proxy settings of the own settings file put on the client.
#include <gtest/gtest.h>

#include "base/Errors.h"
#include "config/Common.h"
#include "config/IniFile.h"
#include "config/RemoteAccessCode.h"
#include "config/SettingsReader.h"
#include "db/DatabaseErrorHandler.h"
#include "net/PeerFixtures.h"
#include "support/TempDir.h"

namespace zirvo::config {
namespace {

using test::ScriptedPeer;

std::string Ok(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

class RemoteAccessCodeTest : public ::testing::Test {
 protected:
  RemoteAccessCodeTest() : client_(ClientOptions()) {
    test::WriteFileBytes(SettingsFile(), "[Main]\r\nDebugMode=1\r\n");
  }

  static net::HttpClientOptions ClientOptions() {
    net::HttpClientOptions options;
    options.waits.readTimeout = std::chrono::seconds(5);
    options.waits.connectTimeout = std::chrono::seconds(5);
    return options;
  }

  std::string SettingsFile() const { return dir_.File("ZirvoSrv.ini"); }

  RemoteAccessCode Make() {
    return RemoteAccessCode(RemoteAccessCodeContext{
        SettingsFile(),
        client_,
        Log([this](const std::string& line) { log_.push_back(line); }, [this] { return debug_; }),
        [this](const std::string& password) { initialised_.push_back(password); },
        [this](const Exception& error) {
          db::HandleDatabaseError(error,
                                  Log([this](const std::string& line) { log_.push_back(line); }),
                                  [this] { log_.push_back("(état)"); });
        },
    });
  }

  // The cycle's set-up, with the proxy keys kept for the next as the service publishes them.
  std::string SetupMySQLConnection(const std::string& url) {
    AccessCodeSetup setup = Make().SetupMySQLConnection(url, settings_);
    settings_.Proxy = setup.proxy;
    downloadedPort_ = setup.downloadedPort;
    return setup.password;
  }

  void WriteProxy(const std::string& keys) {
    test::WriteFileBytes(SettingsFile(), "[Main]\r\nDebugMode=1\r\n[Proxy]\r\n" + keys);
  }

  test::TempDir dir_;
  net::HttpClient client_;
  Settings settings_;
  std::string downloadedPort_;
  bool debug_ = true;
  std::vector<std::string> log_;
  std::vector<std::string> initialised_;
};

TEST_F(RemoteAccessCodeTest, AStoredAccessCodeIsUsedWithoutRequestAndTheProxyKeysAreListed) {
  ScriptedPeer peer({{Ok("never")}});
  ASSERT_NE(peer.Port(), 0);
  settings_.MySQLDBPwd = std::string(kDefaultMySQLDBPwd);
  settings_.Proxy.HTTPServer = "from an earlier cycle";
  settings_.Proxy.HTTPUserName = "from an earlier cycle";
  // A proxy an earlier cycle put on the client.
  client_.Proxy().proxyServer = "127.0.0.1";

  const std::string password = SetupMySQLConnection("http://" + peer.Base() + "/connexion");

  const std::string expected = UnscramblePassword(kDefaultMySQLDBPwd);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(password, expected);
  EXPECT_EQ(initialised_, std::vector<std::string>{expected});
  EXPECT_TRUE(peer.Requests().empty());
  // Without a server in the settings the client's proxy is no longer used, also when
  // nothing is downloaded (the gateway's requests go through the same client).
  EXPECT_EQ(client_.Proxy().proxyServer, "");
  EXPECT_EQ(client_.Proxy().proxyPort, 0);
  EXPECT_EQ(log_, (std::vector<std::string>{"Lecture des paramètres du proxy terminée.",
                                            "Test des paramètres du proxy terminée."}));
  // An empty key leaves the value in memory, except the server's; the file now lists
  // every key, empty.
  EXPECT_EQ(settings_.Proxy.HTTPServer, "");
  EXPECT_EQ(settings_.Proxy.HTTPUserName, "from an earlier cycle");
  const IniFile file(SettingsFile());
  for (const char* key :
       {"HTTPServer", "HTTPUserName", "HTTPPassword", "HTTPPort", "HTTPBasicAuthentification"}) {
    EXPECT_EQ(file.ReadString("Proxy", key, "(absent)"), "") << key;
  }
}

TEST_F(RemoteAccessCodeTest, AnEmptyAccessCodeIsDownloadedWithItsPortThroughTheProxySettings) {
  ScriptedPeer peer({{Ok(ScramblePassword("Sezam-42")), "keep"}, {Ok(ScramblePassword("3306"))}});
  ASSERT_NE(peer.Port(), 0);
  // No proxy server: the requests go direct whatever the other values say.
  WriteProxy("HTTPUserName=" + ScramblePassword(" \tbob ") + "\r\nHTTPPassword=" +
             ScramblePassword(" pw ") + "\r\nHTTPPort=" + ScramblePassword("0") +
             "\r\nHTTPBasicAuthentification=" + ScramblePassword("True") + "\r\n");
  client_.Proxy().proxyPort = 3128;
  client_.Proxy().basicAuthentication = true;

  const std::string url = "http://" + peer.Base() + "/connexion";
  EXPECT_EQ(SetupMySQLConnection(url), "Sezam-42");

  const auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(RequestLine(requests[0]), "GET /connexion HTTP/1.1");
  EXPECT_EQ(RequestLine(requests[1]), "GET /connexionport HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nAuthorization: Basic cXVlbnphcjo=\r\n"), std::string::npos);
  EXPECT_EQ(initialised_, std::vector<std::string>{"Sezam-42"});
  // The port is kept as the server sent it; nothing uses it further.
  EXPECT_EQ(downloadedPort_, ScramblePassword("3306"));
  EXPECT_EQ(client_.Proxy().proxyServer, "");
  EXPECT_EQ(client_.Proxy().proxyUsername, "bob");
  EXPECT_EQ(client_.Proxy().proxyPassword, " pw ");
  EXPECT_EQ(client_.Proxy().proxyPort, 3128) << "HTTPPort 0 leaves the port alone";
  EXPECT_FALSE(client_.Proxy().basicAuthentication) << "only \"true\" switches it on";
  EXPECT_EQ(log_, (std::vector<std::string>{"Lecture des paramètres du proxy terminée.",
                                            "Code d'accès au serveur internet téléchargé.",
                                            "Test des paramètres du proxy terminée."}));
}

TEST_F(RemoteAccessCodeTest, AReplyEndingInALineBreakGivesItsAccessCode) {
  ScriptedPeer peer({{Ok(ScramblePassword("Sezam-42") + " \r\n"), "keep"}, {Ok("0CBE")}});
  ASSERT_NE(peer.Port(), 0);
  WriteProxy("HTTPPort=" + ScramblePassword("8080") +
             "\r\nHTTPBasicAuthentification=" + ScramblePassword("true") + "\r\n");
  EXPECT_EQ(SetupMySQLConnection("http://" + peer.Base() + "/connexion"), "Sezam-42");
  EXPECT_EQ(initialised_, std::vector<std::string>{"Sezam-42"});
  EXPECT_EQ(client_.Proxy().proxyPort, 8080);
  EXPECT_TRUE(client_.Proxy().basicAuthentication);
}

TEST_F(RemoteAccessCodeTest, AFailedDownloadIsHandledAndLeavesNoPassword) {
  debug_ = false;
  {
    ScriptedPeer peer({{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"}});
    ASSERT_NE(peer.Port(), 0);
    EXPECT_EQ(SetupMySQLConnection("http://" + peer.Base() + "/connexion"), "");
    EXPECT_EQ(peer.Requests().size(), 1u);
  }
  EXPECT_EQ(log_, (std::vector<std::string>{"! HTTP/1.1 404 Not Found", "(état)",
                                            "Erreur : le paramétrage de la connexion au "
                                            "serveur MySQL a échoué."}));
  EXPECT_TRUE(initialised_.empty());

  // The second request failing after the first succeeded ends the same way.
  log_.clear();
  {
    ScriptedPeer peer({{Ok(ScramblePassword("Sezam-42")), "keep"},
                       {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"}});
    ASSERT_NE(peer.Port(), 0);
    EXPECT_EQ(SetupMySQLConnection("http://" + peer.Base() + "/connexion"), "");
  }
  EXPECT_EQ(log_.front(), "! HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(log_.back(), "Erreur : le paramétrage de la connexion au serveur MySQL a échoué.");

  // An empty access code still reaches the MySQL connection, and counts as a failure.
  log_.clear();
  {
    ScriptedPeer peer({{Ok(""), "keep"}, {Ok("")}});
    ASSERT_NE(peer.Port(), 0);
    EXPECT_EQ(SetupMySQLConnection("http://" + peer.Base() + "/connexion"), "");
  }
  EXPECT_EQ(initialised_, std::vector<std::string>{""});
  EXPECT_EQ(log_, std::vector<std::string>{
                      "Erreur : le paramétrage de la connexion au serveur MySQL a échoué."});

  // A proxy that keeps refusing the configured credentials: its refusal page is not the
  // access code, the download fails with its status line.
  log_.clear();
  initialised_.clear();
  debug_ = true;
  {
    ScriptedPeer proxy({{"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: "
                         "Basic realm=\"z\"\r\nContent-Length: 6\r\n\r\ndenied"}},
                       test::PeerOptions{.repeatLast = true});
    ASSERT_NE(proxy.Port(), 0);
    WriteProxy("HTTPServer=" + ScramblePassword("127.0.0.1") +
               "\r\nHTTPPort=" + ScramblePassword(std::to_string(proxy.Port())) +
               "\r\nHTTPUserName=" + ScramblePassword("bob") +
               "\r\nHTTPPassword=" + ScramblePassword("pw") + "\r\n");
    EXPECT_EQ(SetupMySQLConnection("http://127.0.0.1:9/connexion"), "");
    EXPECT_EQ(proxy.Requests().size(), 4u) << "answered three times, then given up";
  }
  EXPECT_EQ(log_, (std::vector<std::string>{
                      "Lecture des paramètres du proxy terminée.",
                      "! HTTP/1.1 407 Proxy Authentication Required", "(état)",
                      "Erreur : le paramétrage de la connexion au serveur MySQL a échoué."}));
  EXPECT_TRUE(initialised_.empty());
}

TEST_F(RemoteAccessCodeTest, EmptyingTheProxyServerGoesDirectFromTheNextCycle) {
  ScriptedPeer proxy({{Ok(ScramblePassword("Sezam-42")), "keep"}, {Ok("0CBE"), "keep"}});
  ScriptedPeer origin({{Ok(ScramblePassword("Sezam-43")), "keep"}, {Ok("0CBE"), "keep"}});
  ASSERT_NE(proxy.Port(), 0);
  ASSERT_NE(origin.Port(), 0);
  const std::string url = "http://" + origin.Base() + "/connexion";
  WriteProxy("HTTPServer=" + ScramblePassword("127.0.0.1") +
             "\r\nHTTPPort=" + ScramblePassword(std::to_string(proxy.Port())) + "\r\n");
  EXPECT_EQ(SetupMySQLConnection(url), "Sezam-42");
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_EQ(RequestLine(proxy.Requests()[0]), "GET " + url + " HTTP/1.1");

  // The next cycle: the operator has emptied the proxy keys.
  WriteProxy("HTTPServer=\r\nHTTPPort=\r\n");
  EXPECT_EQ(SetupMySQLConnection(url), "Sezam-43");
  EXPECT_EQ(proxy.Requests().size(), 2u);
  ASSERT_EQ(origin.Requests().size(), 2u);
  EXPECT_EQ(RequestLine(origin.Requests()[0]), "GET /connexion HTTP/1.1");
  EXPECT_EQ(client_.Proxy().proxyServer, "");
}

TEST_F(RemoteAccessCodeTest, AProxyPortThatIsNoPortNumberStopsBeforeAnyRequest) {
  for (const std::string port : {"80a", "$50", "-1", "65536", " 80"}) {
    WriteProxy("HTTPServer=" + ScramblePassword("127.0.0.1") +
               "\r\nHTTPPort=" + ScramblePassword(port) + "\r\n");
    log_.clear();
    EXPECT_THROW(SetupMySQLConnection("http://127.0.0.1:1/connexion"), EConvertError) << port;
    EXPECT_EQ(log_, std::vector<std::string>{"Lecture des paramètres du proxy terminée."});
    EXPECT_TRUE(initialised_.empty());
  }
  EXPECT_EQ(ProxyPortFromText("65535"), 65535);
  EXPECT_EQ(ProxyPortFromText("00"), 0);
  try {
    ProxyPortFromText("huit");
    ADD_FAILURE() << "no conversion error";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(),
              "« huit » n'est pas un port de proxy valide (clé HTTPPort de la section Proxy) : un "
              "nombre décimal de 0 à 65535 est attendu.");
  }
}

}  // namespace
}  // namespace zirvo::config
