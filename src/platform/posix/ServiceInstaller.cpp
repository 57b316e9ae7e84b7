// The Linux stand-in for the manager's service database: one systemd unit file per
// installed service, enabled and reloaded through systemctl when systemd runs.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "base/Errors.h"
#include "platform/Accounts.h"
#include "platform/Files.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "platform/posix/SystemdPaths.h"

extern char** environ;

namespace zirvo::platform {

namespace {

// How long systemd waits before starting a failed service again: long enough that a
// fault present at start (a database not up yet) does not turn into a tight loop.
constexpr const char* kRestartDelaySeconds = "30";

// Runs systemctl with the given arguments and waits for it. Raises on failure.
void RunSystemctl(const std::vector<std::string>& arguments) {
  std::vector<std::string> words{"systemctl"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  // The control signals are blocked in every thread of this process; systemctl must
  // not inherit that, or Ctrl-C could not interrupt it.
  posix_spawnattr_t attributes;
  if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
    throw EOSError(static_cast<std::uint32_t>(error));
  }
  const std::unique_ptr<posix_spawnattr_t, int (*)(posix_spawnattr_t*)> attributesGuard(
      &attributes, ::posix_spawnattr_destroy);
  sigset_t none;
  sigemptyset(&none);
  if (const int error = ::posix_spawnattr_setsigmask(&attributes, &none); error != 0) {
    throw EOSError(static_cast<std::uint32_t>(error));
  }
  if (const int error = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
      error != 0) {
    throw EOSError(static_cast<std::uint32_t>(error));
  }
  pid_t pid = 0;
  const int error = ::posix_spawnp(&pid, "systemctl", nullptr, &attributes, argv.data(), environ);
  if (error != 0) throw EOSError(static_cast<std::uint32_t>(error));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw EOSError(static_cast<std::uint32_t>(errno));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const auto& word : words) command += (command.empty() ? "" : " ") + word;
    throw Exception("La commande « " + command + " » a échoué (code de sortie " +
                    std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + ").");
  }
}

// A unit file is read line by line: a line break inside a value would start a setting
// of its own.
const std::string& SingleLine(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      throw Exception(
          "Texte impossible à écrire dans le fichier d'unité systemd (caractère de "
          "contrôle) : « " +
          text.substr(0, text.find_first_of("\r\n")) + " »");
    }
  }
  return text;
}

// systemd expands '%' specifiers in every setting; doubling keeps the text as it was
// given. '$' is left alone: systemd expands variables in a command's arguments only,
// never in the executable's path, where a doubled '$' stays doubled (and names a file
// that does not exist). A path with blanks must be quoted to stay one word.
std::string UnitValue(const std::string& text) {
  std::string result;
  for (char c : SingleLine(text)) {
    if (c == '%') result += c;
    result += c;
  }
  return result;
}

std::string UnitWord(const std::string& path) {
  std::string escaped = UnitValue(path);
  if (escaped.find_first_of(" \t\"\\'") == std::string::npos) return escaped;
  std::string quoted = "\"";
  for (char c : escaped) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool Under(const std::string& directory, const char* top) {
  const std::string prefix = top;
  return directory == prefix || directory.rfind(prefix + "/", 0) == 0;
}

// What the daemon needs and no more: it writes only beside itself (settings, log, reply
// copy, the data folder it may create there) and in its runtime folder, talks TCP to the
// database, the gateway and the proxy, reads the adapters' addresses (netlink) and
// reports to systemd and syslog (local sockets). No capability at all, under its own
// account or under root's (root then still owns its files, and nothing else).
std::string SandboxSettings(const std::string& directory) {
  std::string text =
      "UMask=0077\n"
      "NoNewPrivileges=yes\n"
      "CapabilityBoundingSet=\n"
      "AmbientCapabilities=\n"
      "ProtectSystem=strict\n";
  if (!directory.empty() && directory != "/")
    text += "ReadWritePaths=" + UnitWord(directory) + "\n";
  // A program kept under a home folder stays reachable, read-only but for its own folder;
  // one kept under a temporary folder would vanish behind a private one.
  const bool home =
      Under(directory, "/home") || Under(directory, "/root") || Under(directory, "/run/user");
  text += std::string("ProtectHome=") + (home ? "read-only" : "yes") + "\n";
  if (!Under(directory, "/tmp") && !Under(directory, "/var/tmp")) text += "PrivateTmp=yes\n";
  text +=
      "PrivateDevices=yes\n"
      "PrivateMounts=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "RemoveIPC=yes\n"
      "LockPersonality=yes\n"
      "MemoryDenyWriteExecute=yes\n"
      "KeyringMode=private\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallFilter=~@privileged @resources\n"
      // A call left out fails with an error the program reports, rather than kill it.
      "SystemCallErrorNumber=EPERM\n"
      "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n";
  return text;
}

std::string UnitFileText(const ServiceInstallation& service) {
  std::string text = "[Unit]\nDescription=" + UnitValue(service.displayName) + "\n";
  // Where an administrator looks first; comments are taken as they are.
  for (const auto& [label, path] : service.documentedFiles) {
    text += "# " + SingleLine(label) + " : " + SingleLine(path) + "\n";
  }
  std::string units;
  for (const auto& dependency : service.dependencies) {
    // Load-order groups have no systemd counterpart.
    if (dependency.empty() || dependency[0] == '+') continue;
    units += " " + dependency + ".service";
  }
  if (!units.empty()) text += "Requires=" + units.substr(1) + "\nAfter=" + units.substr(1) + "\n";
  text += "\n[Service]\nType=notify\nExecStart=" + UnitWord(service.binaryPath) + "\n";
  // Relative paths and files a library leaves behind land beside the program, not in /.
  const std::string directory = DirectoryOf(service.binaryPath);
  if (!directory.empty()) text += "WorkingDirectory=" + UnitValue(directory) + "\n";
  if (!service.startName.empty()) text += "User=" + UnitValue(service.startName) + "\n";
  text += std::string("RuntimeDirectory=") + posix::kRuntimeDirectoryName + "\n";
  text += std::string("Restart=on-failure\nRestartSec=") + kRestartDelaySeconds + "\n";
  text += SandboxSettings(directory);
  if (service.startType == kServiceAutoStart) {
    text += "\n[Install]\nWantedBy=multi-user.target\n";
  }
  return text;
}

class PosixServiceDatabase final : public ServiceDatabase {
 public:
  void CreateServiceEntry(const ServiceInstallation& service, std::uint32_t&) override {
    // The Windows manager refuses an account that does not exist; so does this one,
    // rather than leave a unit that systemd could never start.
    if (!service.startName.empty() && !AccountExists(service.startName)) {
      throw EOSError(kErrorInvalidServiceAccount);
    }
    const std::string path = posix::UnitPath(service.name);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) throw EOSError(kErrorServiceExists);
    if (errno != ENOENT) throw EOSError(static_cast<std::uint32_t>(errno));
    // systemd and administrators read units as any user.
    const int error = ReplaceFileContents(path, UnitFileText(service), FlushMode::kToDisk,
                                          NewFileAccess::kEveryone);
    if (error != 0) throw EOSError(static_cast<std::uint32_t>(error));
    if (!ManagedBySystemd()) return;
    try {
      RunSystemctl({"daemon-reload"});
      if (service.startType == kServiceAutoStart)
        RunSystemctl({"enable", service.name + ".service"});
    } catch (...) {
      ::unlink(path.c_str());
      throw;
    }
  }

  void DeleteServiceEntry(const std::string& name) override {
    const std::string path = posix::UnitPath(name);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
      throw EOSError(errno == ENOENT ? kErrorServiceDoesNotExist
                                     : static_cast<std::uint32_t>(errno));
    }
    if (ManagedBySystemd()) RunSystemctl({"disable", name + ".service"});
    if (::unlink(path.c_str()) != 0) throw EOSError(static_cast<std::uint32_t>(errno));
    if (ManagedBySystemd()) RunSystemctl({"daemon-reload"});
  }

 private:
  // A unit directory chosen through the environment is not one systemd reads.
  static bool ManagedBySystemd() {
    return posix::Environment("ZIRVOSRV_UNIT_DIR").empty() && posix::SystemdRuns();
  }
};

}  // namespace

std::unique_ptr<ServiceDatabase> OpenSystemServiceDatabase() {
  return std::make_unique<PosixServiceDatabase>();
}

}  // namespace zirvo::platform
