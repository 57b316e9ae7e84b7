// Cost of the log writer, the settings store and scrambling against what the OS itself
// needs for the same work. Targets: a log line at most 3x a bare open-append-close, a
// settings write at most 3x a bare durable replace of the same bytes.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "config/Common.h"
#include "config/IniFile.h"
#include "platform/Files.h"
#include "service/DiagnosticLog.h"

namespace {

double MicrosPerCall(int calls, const std::function<void(int)>& body) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) body(i);
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count() / calls;
}

void Report(const char* name, double floor, double measured, double target) {
  const double ratio = measured / floor;
  std::printf("%-28s floor %9.2f us  measured %9.2f us  ratio %5.2f  (target <= %.1f) %s\n", name,
              floor, measured, ratio, target, ratio <= target ? "ok" : "OVER");
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / "zirvo-bench";
  fs::create_directories(dir);
  const std::string message = "Erreur lors de la lecture de la configuration - étape 1 : test";

  const std::string rawLog = (dir / "raw.log").string();
  const double logFloor = MicrosPerCall(2000, [&](int) {
    std::ofstream(rawLog, std::ios::app | std::ios::binary)
        << "06/12/2026 16:34:16 : " << message << "\r\n";
  });
  zirvo::service::LogWriter log((dir / "bench.log").string());
  const double logCost = MicrosPerCall(2000, [&](int) { log.WriteLog(message); });
  Report("log line", logFloor, logCost, 3.0);

  zirvo::config::IniFile ini((dir / "bench.ini").string());
  for (const char* key : {"DebugMode", "Interval", "UseVarnox_ini", "ZirvoServiceName"}) {
    ini.WriteString("Main", key, "0");
  }
  std::ifstream in(ini.FileName(), std::ios::binary);
  const std::string iniBytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  const std::string rawIni = (dir / "raw.ini").string();
  const double iniFloor =
      MicrosPerCall(300, [&](int) { zirvo::platform::ReplaceFileContents(rawIni, iniBytes); });
  const double iniCost =
      MicrosPerCall(300, [&](int i) { ini.WriteInteger("Main", "Interval", i); });
  Report("settings write", iniFloor, iniCost, 3.0);

  const std::string plain(64, 'p');
  volatile std::size_t sink = 0;
  const double copyFloor =
      MicrosPerCall(100000, [&](int) { sink = sink + std::string(plain).size(); });
  const double scrambleCost = MicrosPerCall(
      100000, [&](int) { sink = sink + zirvo::config::ScramblePassword(plain).size(); });
  Report("scramble 64 bytes", copyFloor, scrambleCost, 50.0);

  fs::remove_all(dir);
  return 0;
}
