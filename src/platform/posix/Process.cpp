#include "platform/Process.h"

#include <signal.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace zirvo::platform {

namespace {

std::string ReadExecutableLink() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

// Read once: an upgrade replaces the binary by a rename while the service runs, and the
// link then names the old file with " (deleted)" appended, which would send the log and
// the settings to new files of that name.
std::string ExecutablePath() {
  static const std::string path = ReadExecutableLink();
  return path;
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void OnOperatorInterrupt(std::function<void()> cleanUp) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal);
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // Output piped into a command that ends first ("| head") must not kill the program
  // before it has cleaned up: the writes fail instead, and the work runs to its end.
  ::signal(SIGPIPE, SIG_IGN);
  std::thread([signals, cleanUp = std::move(cleanUp)] {
    int received = 0;
    if (::sigwait(&signals, &received) != 0) return;
    cleanUp();
    // The interrupted work is not resumed, nor are its destructors run.
    ::_exit(128 + received);
  }).detach();
}

// The loader reads its search path from the environment only at start and libraries are
// loaded by their versioned names from the system's folders: nothing to narrow.
void RestrictLibrarySearch() {}

}  // namespace zirvo::platform
