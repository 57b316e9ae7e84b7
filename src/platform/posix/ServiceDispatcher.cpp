// The Linux stand-in for the service control manager's dispatcher: the control codes
// arrive as signals, which one signal-waiting thread (the calling thread) hands to the
// registered controller entry.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "base/Errors.h"
#include "platform/ServiceManager.h"
#include "platform/SystemError.h"
#include "platform/posix/ServiceStatusReport.h"
#include "platform/posix/SystemdPaths.h"

namespace zirvo::platform {

namespace {

int ControlSignalToCode(int signal) {
  switch (signal) {
    case SIGTERM:
    case SIGINT:
      return 1;
    case SIGUSR1:
      return 2;
    case SIGUSR2:
      return 3;
    case SIGHUP:
      return 4;
    case SIGPWR:
      return 5;
    default:
      return 0;
  }
}

// Tells the dispatcher's signal wait that a service main entry has returned.
int WakeSignal() { return SIGRTMIN; }

sigset_t DispatcherSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP, SIGPWR}) sigaddset(&set, signal);
  sigaddset(&set, WakeSignal());
  return set;
}

class PosixServiceManager final : public ServiceControlManager {
 public:
  explicit PosixServiceManager(bool console) : console_(console) {
    const sigset_t set = DispatcherSignals();
    // Unblocked, a control signal would take its default action in whichever thread it
    // reaches, and end the process in the middle of its work.
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
      throw EOSError(static_cast<std::uint32_t>(error));
    }
  }

  std::uint32_t RunDispatcher(const std::vector<std::string>& serviceNames,
                              const ServiceMainEntry& serviceMain) override {
    if (!console_ && posix::Environment("NOTIFY_SOCKET").empty() &&
        posix::Environment("INVOCATION_ID").empty()) {
      return kErrorFailedServiceControllerConnect;
    }
    const pthread_t dispatcher = ::pthread_self();
    std::atomic<std::size_t> finished{0};
    std::vector<std::thread> mains;
    mains.reserve(serviceNames.size());
    for (const auto& name : serviceNames) {
      mains.emplace_back([&, name] {
        serviceMain({name});
        ++finished;
        ::pthread_kill(dispatcher, WakeSignal());
      });
    }
    const sigset_t set = DispatcherSignals();
    while (finished.load() < serviceNames.size()) {
      int signal = 0;
      if (::sigwait(&set, &signal) != 0) continue;
      const int code = ControlSignalToCode(signal);
      if (code != 0) Deliver(static_cast<std::uint32_t>(code));
    }
    for (auto& thread : mains) thread.join();
    std::lock_guard<std::mutex> lock(mutex_);
    controller_ = nullptr;
    return 0;
  }

  std::unique_ptr<ServiceStatusHandle> RegisterControlHandler(const std::string& name,
                                                              ControllerEntry controller,
                                                              std::uint32_t& error) override {
    auto handle = posix::CreateStatusHandle(name, console_, error);
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    controller_ = controller;
    // Codes that came before the service could take them (a stop right after the
    // start) are handed over now instead of being lost.
    for (std::uint32_t code : early_) controller_(code);
    early_.clear();
    return handle;
  }

  std::unique_ptr<ServiceDatabase> OpenServiceDatabase() override {
    return OpenSystemServiceDatabase();
  }

 private:
  void Deliver(std::uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (controller_ != nullptr) {
      controller_(code);
    } else {
      early_.push_back(code);
    }
  }

  bool console_;
  std::mutex mutex_;
  ControllerEntry controller_ = nullptr;
  std::vector<std::uint32_t> early_;
};

}  // namespace

std::unique_ptr<ServiceControlManager> CreateSystemServiceManager(bool console) {
  return std::make_unique<PosixServiceManager>(console);
}

void KeepRunningAtLogOff() {}

}  // namespace zirvo::platform
