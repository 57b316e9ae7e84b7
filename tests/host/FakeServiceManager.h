// A service manager, event log and message boxes that live inside the test process, so
// that the frame runs with its real threads while the test plays the manager.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Errors.h"
#include "host/ServiceFrame.h"
#include "host/ServiceHost.h"
#include "platform/SystemError.h"

namespace zirvo::test {

// Changes a service's registration as its owner does: a copy, changed, handed back.
template <typename Change>
void ChangeRegistration(host::ServiceFrame& service, Change change) {
  host::ServiceRegistration registration = service.Registration();
  change(registration);
  service.SetRegistration(std::move(registration));
}

struct RecordedEvent {
  std::string source;
  std::string text;
};

// Everything the fake system saw, shared by the manager, the event sources and the boxes.
class FakeSystem {
 public:
  void AddStatus(const platform::ServiceStatusRecord& status) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      statuses_.push_back(status);
    }
    changed_.notify_all();
  }
  void AddEvent(RecordedEvent event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
    }
    changed_.notify_all();
  }
  std::vector<platform::ServiceStatusRecord> Statuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
  }
  std::vector<RecordedEvent> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  std::vector<std::uint32_t> States() const {
    std::vector<std::uint32_t> states;
    for (const auto& status : Statuses()) states.push_back(status.currentState);
    return states;
  }
  // Waits until the count-th report (1-based) of the given state exists; false after
  // the time limit.
  bool WaitForState(std::uint32_t state, std::size_t count = 1,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      std::size_t seen = 0;
      for (const auto& status : statuses_) seen += status.currentState == state ? 1 : 0;
      return seen >= count;
    });
  }
  bool WaitForEvents(std::size_t count,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return events_.size() >= count; });
  }

  std::vector<std::pair<platform::MessageKind, std::string>> messages;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<platform::ServiceStatusRecord> statuses_;
  std::vector<RecordedEvent> events_;
};

class FakeEventSource final : public platform::EventSource {
 public:
  FakeEventSource(FakeSystem& system, std::string source)
      : system_(system), source_(std::move(source)) {}
  void ReportError(const std::string& text) override { system_.AddEvent({source_, text}); }

 private:
  FakeSystem& system_;
  std::string source_;
};

class FakeStatusHandle final : public platform::ServiceStatusHandle {
 public:
  FakeStatusHandle(FakeSystem& system, std::uint32_t failure)
      : system_(system), failure_(failure) {}
  std::uint32_t SetServiceStatus(const platform::ServiceStatusRecord& status) override {
    system_.AddStatus(status);
    return failure_;
  }

 private:
  FakeSystem& system_;
  std::uint32_t failure_;
};

struct FakeInstallation {
  std::string operation;  // "create" or "delete"
  platform::ServiceInstallation service;
};

class FakeServiceDatabase final : public platform::ServiceDatabase {
 public:
  FakeServiceDatabase(std::vector<FakeInstallation>& log, std::uint32_t createFailure,
                      std::uint32_t deleteFailure)
      : log_(log), createFailure_(createFailure), deleteFailure_(deleteFailure) {}
  void CreateServiceEntry(const platform::ServiceInstallation& service,
                          std::uint32_t& tagId) override {
    if (createFailure_ != 0) throw EOSError(createFailure_);
    log_.push_back({"create", service});
    if (tagId > 0) tagId = 77;
  }
  void DeleteServiceEntry(const std::string& name) override {
    if (deleteFailure_ != 0) throw EOSError(deleteFailure_);
    platform::ServiceInstallation service;
    service.name = name;
    log_.push_back({"delete", service});
  }

 private:
  std::vector<FakeInstallation>& log_;
  std::uint32_t createFailure_;
  std::uint32_t deleteFailure_;
};

// Plays the manager: the dispatcher starts each service main entry on a thread of its
// own, as the manager does, and Send calls the registered controller entry from the
// test's thread, as the dispatcher thread would.
class FakeServiceManager final : public platform::ServiceControlManager {
 public:
  explicit FakeServiceManager(FakeSystem& system) : system_(system) {}

  std::uint32_t dispatcherFailure = 0;
  std::uint32_t registrationFailure = 0;
  std::uint32_t statusFailure = 0;
  std::uint32_t openFailure = 0;
  std::uint32_t createFailure = 0;
  std::uint32_t deleteFailure = 0;
  std::vector<std::string> startArguments;
  std::vector<FakeInstallation> installations;

  std::uint32_t RunDispatcher(const std::vector<std::string>& serviceNames,
                              const platform::ServiceMainEntry& serviceMain) override {
    if (dispatcherFailure != 0) return dispatcherFailure;
    std::vector<std::thread> mains;
    for (const auto& name : serviceNames) {
      std::vector<std::string> arguments{name};
      arguments.insert(arguments.end(), startArguments.begin(), startArguments.end());
      mains.emplace_back([&serviceMain, arguments] { serviceMain(arguments); });
    }
    for (auto& thread : mains) thread.join();
    return 0;
  }

  std::unique_ptr<platform::ServiceStatusHandle> RegisterControlHandler(
      const std::string&, platform::ControllerEntry controller, std::uint32_t& error) override {
    if (registrationFailure != 0) {
      error = registrationFailure;
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      controller_ = controller;
    }
    registered_.notify_all();
    return std::make_unique<FakeStatusHandle>(system_, statusFailure);
  }

  std::unique_ptr<platform::ServiceDatabase> OpenServiceDatabase() override {
    if (openFailure != 0) throw EOSError(openFailure);
    return std::make_unique<FakeServiceDatabase>(installations, createFailure, deleteFailure);
  }

  // Calls the controller entry once it is registered.
  void Send(std::uint32_t code) {
    platform::ControllerEntry controller = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      registered_.wait_for(lock, std::chrono::seconds(10), [&] { return controller_ != nullptr; });
      controller = controller_;
    }
    ASSERT_NE(controller, nullptr) << "aucun contrôleur enregistré";
    controller(code);
  }

 private:
  FakeSystem& system_;
  std::mutex mutex_;
  std::condition_variable registered_;
  platform::ControllerEntry controller_ = nullptr;
};

inline host::HostEnvironment FakeEnvironment(FakeSystem& system, FakeServiceManager& manager) {
  host::HostEnvironment environment;
  environment.manager = &manager;
  environment.openEventSource = [&system](const std::string& source) {
    return std::make_unique<FakeEventSource>(system, source);
  };
  environment.showMessage = [&system](const std::string&, const std::string& text,
                                      platform::MessageKind kind) {
    system.messages.emplace_back(kind, text);
  };
  environment.programPath = "/opt/zirvo/ZirvoSrv";
  return environment;
}

// Runs a host's Run on a thread that stands for the process's main thread. If the test
// ends while the host still runs, the service is stopped first, so that no thread
// outlives the test; a service that does not stop makes the test fail loudly.
class HostRunner {
 public:
  HostRunner(host::ServiceHost& host, FakeServiceManager& manager)
      : manager_(manager), thread_([this, &host] {
          exitCode_ = host.Run();
          done_ = true;
        }) {}
  ~HostRunner() {
    if (thread_.joinable()) {
      if (!done_) manager_.Send(host::kControlStop);
      thread_.join();
    }
  }
  int Join() {
    thread_.join();
    return exitCode_;
  }

 private:
  FakeServiceManager& manager_;
  std::atomic<bool> done_{false};
  int exitCode_ = -1;
  std::thread thread_;
};

}  // namespace zirvo::test
