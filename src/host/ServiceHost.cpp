#include "host/ServiceHost.h"

#include <algorithm>
#include <thread>

#include "base/StringUtils.h"
#include "host/ServiceFrame.h"
#include "platform/Accounts.h"
#include "platform/CodePage.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SystemError.h"

namespace zirvo::host {

namespace {

std::string ProgramFileName(const std::string& path) {
  const auto separator = path.find_last_of(std::string("/\\") + platform::PathDelimiter());
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string FailureText(const ServiceFrame& service, bool install, const std::string& message) {
  return "Service \"" + service.DisplayName() + "\"" +
         (install ? " failed to install with error: \"" : " failed to uninstall with error: \"") +
         message + "\"";
}

}  // namespace

HostEnvironment SystemHostEnvironment(platform::ServiceControlManager& manager) {
  HostEnvironment environment;
  environment.manager = &manager;
  environment.openEventSource = [](const std::string& name) {
    return platform::OpenEventSource(name);
  };
  environment.showMessage = [](const std::string& title, const std::string& text,
                               platform::MessageKind kind) {
    platform::ShowMessage(title, text, kind);
  };
  environment.programPath = platform::ExecutablePath();
  environment.accountExists = [](const std::string& account) {
    return platform::AccountExists(account);
  };
  environment.systemAccountName = platform::SystemAccountName();
  environment.fallbackAccount = platform::FallbackServiceAccount;
  return environment;
}

bool FindCmdLineSwitch(const std::vector<std::string>& arguments, const std::string& word) {
  return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
    return argument.size() > 1 && (argument[0] == '/' || argument[0] == '-') &&
           SameText(argument.substr(1), word);
  });
}

ServiceTimer::ServiceTimer(ServiceHost& host) : host_(host) {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  host_.timers_.push_back(this);
}

ServiceTimer::~ServiceTimer() {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  host_.timers_.erase(std::remove(host_.timers_.begin(), host_.timers_.end(), this),
                      host_.timers_.end());
}

bool ServiceTimer::Enabled() const {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  return enabled_;
}

void ServiceTimer::SetEnabled(bool enabled) {
  {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    enabled_ = enabled;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_);
  }
  host_.wake_.notify_all();
}

std::uint32_t ServiceTimer::Interval() const {
  std::lock_guard<std::mutex> lock(host_.mutex_);
  return interval_;
}

void ServiceTimer::SetInterval(std::uint32_t milliseconds) {
  {
    std::lock_guard<std::mutex> lock(host_.mutex_);
    interval_ = milliseconds;
    due_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(interval_);
  }
  host_.wake_.notify_all();
}

ServiceHost::ServiceHost(std::vector<std::string> arguments, HostEnvironment environment)
    : arguments_(std::move(arguments)), environment_(std::move(environment)) {}

ServiceHost::~ServiceHost() {
  while (!services_.empty()) {
    try {
      services_.back()->DoDestroy();
    } catch (const std::exception& error) {
      HandleException(error);
    }
    services_.pop_back();
  }
}

void ServiceHost::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(Message{false, std::move(task)});
  }
  wake_.notify_all();
}

void ServiceHost::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(Message{true, {}});
  }
  wake_.notify_all();
}

bool ServiceHost::Terminated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminated_;
}

void ServiceHost::HandleException(const std::exception& error) { LogHostEvent(error.what()); }

void ServiceHost::LogHostEvent(const std::string& text) {
  std::lock_guard<std::mutex> lock(eventMutex_);
  if (!eventSource_) {
    eventSource_ = environment_.openEventSource(
        platform::PathToText(ProgramFileName(environment_.programPath)));
  }
  if (eventSource_) eventSource_->ReportError(text);
}

bool ServiceHost::DispatchOne(std::unique_lock<std::mutex>& lock) {
  if (!messages_.empty()) {
    Message message = std::move(messages_.front());
    messages_.pop_front();
    if (message.quit) {
      quitSeen_ = true;
      return true;
    }
    lock.unlock();
    try {
      message.task();
    } catch (const std::exception& error) {
      HandleException(error);
    }
    lock.lock();
    return true;
  }
  const auto now = std::chrono::steady_clock::now();
  for (ServiceTimer* timer : timers_) {
    if (!timer->enabled_ || timer->interval_ == 0 || !timer->OnTimer || timer->due_ > now) {
      continue;
    }
    // Events that fell due while the previous one ran are merged into one, as window
    // timers do.
    timer->due_ = now + std::chrono::milliseconds(timer->interval_);
    lock.unlock();
    try {
      timer->OnTimer(*timer);
    } catch (const std::exception& error) {
      HandleException(error);
    }
    lock.lock();
    return true;
  }
  return false;
}

void ServiceHost::RunMessageLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quitSeen_) {
    if (DispatchOne(lock)) continue;
    auto next = std::chrono::steady_clock::time_point::max();
    for (const ServiceTimer* timer : timers_) {
      if (timer->enabled_ && timer->interval_ != 0 && timer->OnTimer) {
        next = std::min(next, timer->due_);
      }
    }
    if (next == std::chrono::steady_clock::time_point::max()) {
      wake_.wait(lock);
    } else {
      wake_.wait_until(lock, next);
    }
  }
  terminated_ = true;
}

void ServiceHost::ProcessMessages() {
  std::unique_lock<std::mutex> lock(mutex_);
  // Only what is queued now: a task that posts another must not keep the caller here.
  std::size_t pending = messages_.size();
  while (pending-- > 0 && !quitSeen_ && !messages_.empty()) DispatchOne(lock);
  if (messages_.empty()) DispatchOne(lock);
}

bool ServiceHost::Installation(bool install) {
  const bool silent = FindCmdLineSwitch(arguments_, "SILENT");
  std::unique_ptr<platform::ServiceDatabase> database;
  try {
    database = environment_.manager->OpenServiceDatabase();
  } catch (const std::exception& error) {
    // Without the manager no service can be handled; each one says so in its own box.
    for (const auto& service : services_) {
      environment_.showMessage(title_, FailureText(*service, install, error.what()),
                               platform::MessageKind::kError);
    }
    return false;
  }
  bool success = true;
  std::string notes;
  for (const auto& service : services_) {
    try {
      if (install) {
        if (service->BeforeInstall) service->BeforeInstall(*service);
        const ServiceRegistration registration = service->Registration();
        platform::ServiceInstallation installation;
        installation.name = registration.name;
        installation.displayName = service->DisplayName();
        installation.serviceType = service->ManagerServiceType();
        std::uint32_t startType = static_cast<std::uint32_t>(registration.startType);
        if (startType < platform::kServiceAutoStart &&
            registration.serviceType != ServiceType::stDevice) {
          startType = platform::kServiceAutoStart;
        }
        installation.startType = startType;
        installation.errorControl = static_cast<std::uint32_t>(registration.errorSeverity);
        installation.binaryPath = environment_.programPath;
        installation.loadGroup = registration.loadGroup;
        installation.dependencies = registration.dependencies;
        installation.startName = registration.startName;
        installation.password = registration.password;
        installation.documentedFiles = registration.documentedFiles;
        // A fresh machine has no account of the service's own: rather than refuse, the
        // service runs under its virtual account where the system has one (only the rights
        // granted to it), otherwise under the system's account; the operator is told.
        const std::string fallback =
            environment_.fallbackAccount ? environment_.fallbackAccount(service->Name()) : "";
        if (!installation.startName.empty() && environment_.accountExists &&
            !environment_.accountExists(installation.startName)) {
          notes += "\nLe compte « " + installation.startName + " » n'existe pas : le service « " +
                   service->DisplayName() + " » est installé sous " +
                   (fallback.empty() ? "le compte système (" + environment_.systemAccountName + ")."
                                     : "son compte virtuel « " + fallback + " ».");
          installation.startName = fallback;
          installation.password.clear();
          service->SetServiceStartName(fallback);
        } else if (!installation.startName.empty()) {
          notes += "\nLe service « " + service->DisplayName() +
                   " » est installé sous le compte « " + installation.startName + " ».";
        }
        std::uint32_t tag = registration.tagId;
        database->CreateServiceEntry(installation, tag);
        ServiceRegistration installed = service->Registration();
        installed.tagId = tag;
        service->SetRegistration(std::move(installed));
        try {
          if (service->AfterInstall) service->AfterInstall(*service);
        } catch (...) {
          // A service whose installation did not finish must not stay registered.
          try {
            database->DeleteServiceEntry(service->Name());
          } catch (const std::exception&) {
          }
          throw;
        }
      } else {
        if (service->BeforeUninstall) service->BeforeUninstall(*service);
        database->DeleteServiceEntry(service->Name());
        if (service->AfterUninstall) service->AfterUninstall(*service);
      }
    } catch (const std::exception& error) {
      success = false;
      environment_.showMessage(title_, FailureText(*service, install, error.what()),
                               platform::MessageKind::kError);
    }
  }
  if (success && !silent) {
    environment_.showMessage(
        title_,
        install ? "Service installed successfully" + notes : "Service uninstalled successfully",
        platform::MessageKind::kInformation);
  }
  return success;
}

void ServiceHost::ServiceMain(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return;
  for (const auto& service : services_) {
    if (SameText(service->Name(), arguments.front())) {
      service->Main(arguments);
      return;
    }
  }
}

int ServiceHost::Run() {
  if (FindCmdLineSwitch(arguments_, "INSTALL")) return Installation(true) ? 0 : 1;
  if (FindCmdLineSwitch(arguments_, "UNINSTALL")) return Installation(false) ? 0 : 1;

  std::vector<std::string> names;
  for (const auto& service : services_) names.push_back(service->Name());
  std::uint32_t dispatcherResult = 0;
  std::thread dispatcherThread([&] {
    try {
      dispatcherResult = environment_.manager->RunDispatcher(
          names, [this](const std::vector<std::string>& arguments) { ServiceMain(arguments); });
    } catch (const std::exception& error) {
      HandleException(error);
    }
    Quit();
  });
  RunMessageLoop();
  dispatcherThread.join();
  if (dispatcherResult != 0) {
    LogHostEvent(platform::SystemErrorText(dispatcherResult));
    return 1;
  }
  return 0;
}

}  // namespace zirvo::host
