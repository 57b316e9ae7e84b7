// The frame that a service plugs its handlers into: its settings for the manager, its
// run-time state, the service main entry, the control table and the status reports.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/ServiceRegistration.h"
#include "platform/EventLog.h"
#include "platform/ServiceManager.h"

namespace zirvo::host {

class ServiceHost;
class ServiceThread;

// The status of a service, with the manager's current-state codes.
enum class ServiceStatus : std::uint32_t {
  csStopped = 1,
  csStartPending = 2,
  csStopPending = 3,
  csRunning = 4,
  csContinuePending = 5,
  csPausePending = 6,
  csPaused = 7,
};

bool IsPending(ServiceStatus status);

// Control codes the manager sends.
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kControlPause = 2;
inline constexpr std::uint32_t kControlContinue = 3;
inline constexpr std::uint32_t kControlInterrogate = 4;
inline constexpr std::uint32_t kControlShutdown = 5;

// The check-point rule of the status reports. A pending status reported again right
// after itself carries the previous check point plus one; any other report carries 0.
// Before the first report the previous status counts as start pending.
class CheckPointMemory {
 public:
  std::uint32_t Next(ServiceStatus status);

 private:
  ServiceStatus previous_ = ServiceStatus::csStartPending;
  std::uint32_t checkPoint_ = 0;
};

// Installation hooks; an exception from one of them fails the service's installation
// or uninstallation with that exception's message.
using InstallHook = std::function<void(class ServiceFrame& sender)>;

// The base of a service. The host owns it; it is created and destroyed on the main
// thread. During a run the manager's thread runs Main, the service thread runs the
// start, execute and control events, and the manager's dispatcher thread calls
// Controller. The registration is set before Run; the status reports of a run use it as
// it was when the run began, so a change during a run (the start name a settings read
// sets on the main thread) counts from the next installation, never half-way through a
// report on another thread.
class ServiceFrame {
 public:
  using StartEvent = std::function<void(ServiceFrame& sender, bool& started)>;
  using StopEvent = std::function<void(ServiceFrame& sender, bool& stopped)>;
  using PauseEvent = std::function<void(ServiceFrame& sender, bool& paused)>;
  using ContinueEvent = std::function<void(ServiceFrame& sender, bool& continued)>;
  using NotifyEvent = std::function<void(ServiceFrame& sender)>;

  explicit ServiceFrame(ServiceHost& host);
  virtual ~ServiceFrame();
  ServiceFrame(const ServiceFrame&) = delete;
  ServiceFrame& operator=(const ServiceFrame&) = delete;

  ServiceHost& Host() const { return host_; }

  // Settings: the registration record, copied. The owner fills it before Run; the
  // settings read may change the start name later, which counts from the next
  // installation.
  const ServiceRegistration& Registration() const { return registration_; }
  // A start name or a password clears the record's interactive flag; the handlers already
  // assigned keep allowing what they allow (see Events).
  void SetRegistration(ServiceRegistration registration);
  const std::string& Name() const { return registration_.name; }
  // The display name, or the name when none is set.
  const std::string& DisplayName() const {
    return registration_.displayName.empty() ? registration_.name : registration_.displayName;
  }
  const std::string& ServiceStartName() const { return registration_.startName; }
  // Clears Interactive when not empty.
  void SetServiceStartName(std::string startName);
  const std::string& Password() const { return registration_.password; }
  bool Interactive() const { return registration_.interactive; }
  StartType GetStartType() const { return registration_.startType; }
  bool AllowStop() const { return registration_.allowStop; }
  bool AllowPause() const { return registration_.allowPause; }
  std::uint32_t WaitHint() const { return registration_.waitHint; }
  std::uint32_t TagID() const { return registration_.tagId; }

  // Events. Assigning a pause or continue handler allows pause; a stop handler, stop.
  void SetOnStart(StartEvent handler) { onStart_ = std::move(handler); }
  void SetOnExecute(NotifyEvent handler) { onExecute_ = std::move(handler); }
  void SetOnStop(StopEvent handler);
  void SetOnPause(PauseEvent handler);
  void SetOnContinue(ContinueEvent handler);
  void SetOnShutdown(NotifyEvent handler) { onShutdown_ = std::move(handler); }
  InstallHook BeforeInstall, AfterInstall, BeforeUninstall, AfterUninstall;
  // Runs when the host is about to destroy the service (at process end), while every
  // member still lives. Main thread.
  NotifyEvent OnDestroy;

  // Raises OnDestroy. Called by the host; an exception goes to the host's handler.
  void DoDestroy() {
    if (OnDestroy) OnDestroy(*this);
  }

  // The type field of the status record (and of the installation).
  std::uint32_t ManagerServiceType() const;

  // Run-time state.
  ServiceStatus Status() const { return status_.load(); }
  // Sets the status and reports it to the manager.
  void SetStatus(ServiceStatus status);
  std::uint32_t Win32ErrCode() const { return win32ErrCode_; }
  void SetWin32ErrCode(std::uint32_t code) { win32ErrCode_ = code; }
  std::uint32_t ErrCode() const { return errCode_; }
  void SetErrCode(std::uint32_t code) { errCode_ = code; }
  // The service name first, then the arguments the manager passed.
  const std::vector<std::string>& Params() const { return params_; }
  // True once the service thread has been told to end; false while none exists.
  bool Terminated() const;
  // True from the moment a stop or shutdown is accepted, or the service thread ends,
  // until the service is next started in this process: work that the service runs on
  // the main loop reads it to give up what it is waiting for and to start nothing new.
  // Any thread.
  bool Stopping() const { return stopping_.load(); }
  // The running service thread, or null outside a run. For the service thread itself.
  ServiceThread* GetServiceThread() const { return serviceThread_.get(); }

  // Sends the current status to the manager; a refused report is written to the event
  // log. Does nothing before the service is registered with the manager.
  void ReportServiceStatus();
  // Runs the control requests of the service thread (see ServiceThread). Service thread.
  void ProcessServiceRequests(bool wait);
  // Writes one error entry under the service's name, registering the source on first use.
  // Any thread.
  void LogServiceEvent(const std::string& text) const;

  // The controller: queues the code for the service thread and wakes it when paused.
  // Called by the controller entry on the manager's dispatcher thread; never blocks on a
  // handler.
  void Controller(std::uint32_t code);

  // The service main entry's body (the host has found this service by name). Manager's
  // thread.
  virtual void Main(const std::vector<std::string>& arguments);

  // The controller entry registered with the manager: a plain function that forwards the
  // code to Controller of this service's instance.
  virtual platform::ControllerEntry GetServiceController() = 0;

 protected:
  // The control operations, run on the service thread. They return the handler's answer
  // (true when it accepted).
  virtual bool DoStop();
  virtual bool DoPause();
  virtual bool DoContinue();
  virtual void DoInterrogate();
  virtual void DoShutdown();
  virtual bool DoCustomControl(std::uint32_t code);
  // True while the service runs work outside its own thread (on the main loop) that
  // must end before the service counts as stopped. Once the service thread has ended,
  // Main reports stop pending again, with rising check points, for as long as this is
  // true, and only then stopped. Called on the manager's thread; must not block. None by
  // default.
  virtual bool WorkInProgress() const { return false; }

 private:
  friend class ServiceThread;

  // After the service thread has ended: waits for WorkInProgress to turn false,
  // reporting stop pending meanwhile.
  void WaitForWork();

  ServiceHost& host_;
  ServiceRegistration registration_;

  StartEvent onStart_;
  NotifyEvent onExecute_;
  StopEvent onStop_;
  PauseEvent onPause_;
  ContinueEvent onContinue_;
  NotifyEvent onShutdown_;

  std::atomic<ServiceStatus> status_{ServiceStatus::csStopped};
  std::uint32_t win32ErrCode_ = 0;
  std::uint32_t errCode_ = 0;
  std::vector<std::string> params_;
  std::mutex reportMutex_;
  std::unique_ptr<platform::ServiceStatusHandle> statusHandle_;
  // What the run's reports say of the registration, taken with the status handle.
  struct RunRegistration {
    std::uint32_t serviceType = 0;
    bool allowStop = true;
    bool allowPause = true;
    std::uint32_t waitHint = 0;
  } run_;
  std::unique_ptr<ServiceThread> serviceThread_;
  // Read by any thread (the timer cycle on the main thread) while the manager's thread
  // creates and frees the service thread.
  std::atomic<bool> threadTerminated_{false};
  std::atomic<bool> stopping_{false};

  // Control codes waiting for the service thread. The queue outlives the thread, so a
  // code that comes before the thread starts is kept for it, not lost.
  std::mutex requestMutex_;
  std::condition_variable requestArrived_;
  std::deque<std::uint32_t> requests_;

  // Opened on first use.
  mutable std::mutex eventMutex_;
  mutable std::unique_ptr<platform::EventSource> eventSource_;
};

// The service thread: runs the start event, then the execute event (or the request loop
// when there is none), then the requests still queued, and ends. Paused means blocked
// until the next control code arrives.
class ServiceThread {
 public:
  explicit ServiceThread(ServiceFrame& service) : service_(service) {}

  bool Terminated() const { return service_.threadTerminated_.load(); }
  // Tells the thread to end: the request loop returns once the current request is done.
  void Terminate();
  // The thread's body; returns when the service has ended. Called on its own thread.
  void Execute();
  // Handles control requests. With wait, blocks for each request and returns once the
  // thread is terminated; without, handles the requests already queued and returns.
  void ProcessRequests(bool wait);

 private:
  void HandleControl(std::uint32_t code);
  // Blocks until a control code is queued.
  void Suspend();

  ServiceFrame& service_;
};

}  // namespace zirvo::host
