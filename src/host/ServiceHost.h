// The process-wide host of the service: it owns the service objects, reads the command
// line (install, uninstall), hands the process to the service manager through its
// dispatcher thread and runs the main loop, where posted tasks and the timers of the
// services (TimerService) run one at a time on the main thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/EventLog.h"
#include "platform/MessageBox.h"
#include "platform/ServiceManager.h"

namespace zirvo::host {

class ServiceFrame;
class ServiceHost;

// What the host needs from the system, passed in so that tests can stand in for any
// part of it. The manager is not owned and must outlive the host.
struct HostEnvironment {
  platform::ServiceControlManager* manager = nullptr;
  std::function<std::unique_ptr<platform::EventSource>(const std::string& sourceName)>
      openEventSource;
  std::function<void(const std::string& title, const std::string& text, platform::MessageKind kind)>
      showMessage;
  // Full path of the program, registered as the binary path at installation.
  std::string programPath;
  // Whether a service account exists; raises EOSError when that cannot be told. Unset:
  // every account is passed to the manager as it is.
  std::function<bool(const std::string& account)> accountExists;
  // The system's own account, named when an installation falls back to it.
  std::string systemAccountName;
  // The account a service is installed under when its own does not exist (by service
  // name); unset or "" means the system's own account.
  std::function<std::string(const std::string& serviceName)> fallbackAccount;
};

// The environment of this process: the given manager, the system's event log and
// message boxes, and the running executable's path.
HostEnvironment SystemHostEnvironment(platform::ServiceControlManager& manager);

// True when one of the arguments is '/' or '-' followed by word, without regard to case.
bool FindCmdLineSwitch(const std::vector<std::string>& arguments, const std::string& word);

// A window-message timer of the main loop. Its event runs on the main thread, one
// interval after it was enabled (or after its previous event began), whichever thread
// enabled it. Enabled, Interval and their setters may be called from any thread; OnTimer
// is set on the main thread before the timer is first enabled. An exception escaping the
// event goes to the host's exception handler and the timer keeps running.
class ServiceTimer {
 public:
  explicit ServiceTimer(ServiceHost& host);
  ~ServiceTimer();
  ServiceTimer(const ServiceTimer&) = delete;
  ServiceTimer& operator=(const ServiceTimer&) = delete;

  bool Enabled() const;
  // Enabling starts the countdown afresh, also when the timer was enabled already.
  void SetEnabled(bool enabled);
  // Milliseconds; 0 keeps the timer silent. Changing it restarts an enabled countdown.
  std::uint32_t Interval() const;
  void SetInterval(std::uint32_t milliseconds);

  std::function<void(ServiceTimer& sender)> OnTimer;

 private:
  friend class ServiceHost;
  ServiceHost& host_;
  bool enabled_ = false;
  std::uint32_t interval_ = 1000;
  std::chrono::steady_clock::time_point due_{};
};

class ServiceHost {
 public:
  // arguments: the command line without the program name.
  ServiceHost(std::vector<std::string> arguments, HostEnvironment environment);
  // Destroys the services in the reverse order of their creation, on the calling thread
  // (the main thread), each after its OnDestroy; an exception escaping OnDestroy is
  // written to the host's event source.
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }
  const std::vector<std::string>& Arguments() const { return arguments_; }
  const HostEnvironment& Environment() const { return environment_; }

  // Creates a service object owned by the host (its construction runs its creation
  // handler) and returns it. Main thread, before Run.
  template <class Service, class... Args>
  Service& CreateService(Args&&... args) {
    auto service = std::make_unique<Service>(*this, std::forward<Args>(args)...);
    Service& result = *service;
    services_.push_back(std::move(service));
    return result;
  }
  const std::vector<std::unique_ptr<ServiceFrame>>& Services() const { return services_; }

  // With "INSTALL" or "UNINSTALL" on the command line: installs or uninstalls every
  // service and returns; a service whose start account does not exist is installed under
  // the fallback account (or the system's own), and the success message names the
  // account used. The service's start name is the installed account in the hooks after. Otherwise
  // hands the process to the manager on the dispatcher thread and runs the main loop until the
  // dispatcher has returned. Returns the process exit code: 0, or 1 when an installation,
  // an uninstallation or the dispatcher failed.
  int Run();

  // Queues a task for the main loop. Any thread.
  void Post(std::function<void()> task);
  // Ends the main loop once the tasks queued before have run. Any thread.
  void Quit();
  // Runs the queued tasks and the due timer events without waiting, then returns: the
  // main loop served from inside a long wait on the main thread.
  void ProcessMessages();
  // True once the main loop has ended.
  bool Terminated() const;

  // The host's exception handler: writes the message under the host's event source.
  void HandleException(const std::exception& error);
  // Writes one error entry under the host's event source (the program file's name).
  void LogHostEvent(const std::string& text);

 private:
  friend class ServiceTimer;
  struct Message {
    bool quit = false;
    std::function<void()> task;
  };

  void RunMessageLoop();
  // Runs one queued message or one due timer event. The lock is held on entry and on
  // return and released while the task or event runs. Returns false when nothing was due.
  bool DispatchOne(std::unique_lock<std::mutex>& lock);
  // Installs (or uninstalls) every service; returns false when one of them failed.
  bool Installation(bool install);
  void ServiceMain(const std::vector<std::string>& arguments);

  std::vector<std::string> arguments_;
  HostEnvironment environment_;
  std::string title_;
  std::vector<std::unique_ptr<ServiceFrame>> services_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Message> messages_;
  std::vector<ServiceTimer*> timers_;
  bool quitSeen_ = false;
  bool terminated_ = false;

  std::mutex eventMutex_;
  std::unique_ptr<platform::EventSource> eventSource_;
};

}  // namespace zirvo::host
