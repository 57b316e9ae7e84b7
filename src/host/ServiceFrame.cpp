#include "host/ServiceFrame.h"

#include <chrono>
#include <exception>
#include <thread>

#include "host/ServiceHost.h"
#include "platform/SystemError.h"

namespace zirvo::host {

namespace {

// One memory for the whole process, as the manager sees one sequence of reports from it.
std::mutex checkPointMutex;
CheckPointMemory processCheckPoints;

// While a stopping service waits for its work: how often it looks, and how often it
// tells the manager that it is still on its way (well within the wait hint, so that
// neither the service control manager nor systemd gives up on it).
constexpr auto kWorkPollStep = std::chrono::milliseconds(50);
constexpr auto kStopPendingReportInterval = std::chrono::seconds(1);

const char* ControlName(std::uint32_t code) {
  switch (code) {
    case kControlStop:
      return "stop";
    case kControlPause:
      return "pause";
    case kControlContinue:
      return "continue";
    case kControlInterrogate:
      return "interrogate";
    case kControlShutdown:
      return "shutdown";
    default:
      return nullptr;
  }
}

}  // namespace

bool IsPending(ServiceStatus status) {
  return status == ServiceStatus::csStartPending || status == ServiceStatus::csStopPending ||
         status == ServiceStatus::csContinuePending || status == ServiceStatus::csPausePending;
}

std::uint32_t CheckPointMemory::Next(ServiceStatus status) {
  checkPoint_ = (IsPending(status) && status == previous_) ? checkPoint_ + 1 : 0;
  previous_ = status;
  return checkPoint_;
}

ServiceFrame::ServiceFrame(ServiceHost& host) : host_(host) {}

ServiceFrame::~ServiceFrame() = default;

void ServiceFrame::SetRegistration(ServiceRegistration registration) {
  registration_ = std::move(registration);
  if (!registration_.startName.empty() || !registration_.password.empty()) {
    registration_.interactive = false;
  }
  if (onStop_) registration_.allowStop = true;
  if (onPause_ || onContinue_) registration_.allowPause = true;
}

void ServiceFrame::SetServiceStartName(std::string startName) {
  registration_.startName = std::move(startName);
  if (!registration_.startName.empty()) registration_.interactive = false;
}

void ServiceFrame::SetOnStop(StopEvent handler) {
  onStop_ = std::move(handler);
  if (onStop_) registration_.allowStop = true;
}

void ServiceFrame::SetOnPause(PauseEvent handler) {
  onPause_ = std::move(handler);
  if (onPause_) registration_.allowPause = true;
}

void ServiceFrame::SetOnContinue(ContinueEvent handler) {
  onContinue_ = std::move(handler);
  if (onContinue_) registration_.allowPause = true;
}

std::uint32_t ServiceFrame::ManagerServiceType() const {
  switch (registration_.serviceType) {
    case ServiceType::stDevice:
      return platform::kServiceKernelDriver;
    case ServiceType::stFileSystem:
      return platform::kServiceFileSystemDriver;
    case ServiceType::stWin32:
      break;
  }
  std::uint32_t type = host_.Services().size() > 1 ? platform::kServiceWin32ShareProcess
                                                   : platform::kServiceWin32OwnProcess;
  if (registration_.interactive) type |= platform::kServiceInteractiveProcess;
  return type;
}

void ServiceFrame::SetStatus(ServiceStatus status) {
  status_.store(status);
  ReportServiceStatus();
}

bool ServiceFrame::Terminated() const { return threadTerminated_.load(); }

void ServiceFrame::ReportServiceStatus() {
  std::lock_guard<std::mutex> lock(reportMutex_);
  if (!statusHandle_) return;
  const ServiceStatus status = status_.load();
  platform::ServiceStatusRecord record;
  record.serviceType = run_.serviceType;
  record.currentState = static_cast<std::uint32_t>(status);
  if (status != ServiceStatus::csStartPending) {
    record.controlsAccepted = platform::kServiceAcceptShutdown;
    if (run_.allowStop) record.controlsAccepted |= platform::kServiceAcceptStop;
    if (run_.allowPause) record.controlsAccepted |= platform::kServiceAcceptPauseContinue;
  }
  record.win32ExitCode = errCode_ != 0 ? platform::kErrorServiceSpecificError : win32ErrCode_;
  record.serviceSpecificExitCode = errCode_;
  {
    std::lock_guard<std::mutex> checkPointLock(checkPointMutex);
    record.checkPoint = processCheckPoints.Next(status);
  }
  record.waitHint = run_.waitHint;
  const std::uint32_t error = statusHandle_->SetServiceStatus(record);
  if (error != 0) LogServiceEvent(platform::SystemErrorText(error));
}

void ServiceFrame::ProcessServiceRequests(bool wait) {
  if (serviceThread_) serviceThread_->ProcessRequests(wait);
}

void ServiceFrame::LogServiceEvent(const std::string& text) const {
  std::lock_guard<std::mutex> lock(eventMutex_);
  if (!eventSource_) eventSource_ = host_.Environment().openEventSource(registration_.name);
  if (eventSource_) eventSource_->ReportError(text);
}

void ServiceFrame::Controller(std::uint32_t code) {
  {
    std::lock_guard<std::mutex> lock(requestMutex_);
    requests_.push_back(code);
  }
  // Wakes the request loop and, as well, a thread suspended by a pause.
  requestArrived_.notify_all();
}

void ServiceFrame::Main(const std::vector<std::string>& arguments) {
  params_.insert(params_.end(), arguments.begin(), arguments.end());
  std::uint32_t registrationError = 0;
  auto handle = host_.Environment().manager->RegisterControlHandler(
      registration_.name, GetServiceController(), registrationError);
  if (!handle) {
    LogServiceEvent(platform::SystemErrorText(registrationError));
    return;
  }
  {
    std::lock_guard<std::mutex> lock(reportMutex_);
    statusHandle_ = std::move(handle);
    run_ = {ManagerServiceType(), registration_.allowStop, registration_.allowPause,
            registration_.waitHint};
  }
  try {
    // The stopped report must go out whatever happened before it: the manager waits for
    // it, and without it the service would count as hung.
    struct ReportStopped {
      ServiceFrame& service;
      ~ReportStopped() {
        try {
          service.SetStatus(ServiceStatus::csStopped);
        } catch (...) {
        }
      }
    } reportStopped{*this};
    SetStatus(ServiceStatus::csStartPending);
    threadTerminated_.store(false);
    stopping_.store(false);
    serviceThread_ = std::make_unique<ServiceThread>(*this);
    std::thread thread([this] { serviceThread_->Execute(); });
    thread.join();
    // Terminated stays true meanwhile, so the work sees the stop and starts no more.
    WaitForWork();
    serviceThread_.reset();
    threadTerminated_.store(false);
  } catch (const std::exception& error) {
    LogServiceEvent(std::string("Service failed on execute: ") + error.what());
  }
}

void ServiceFrame::WaitForWork() {
  stopping_.store(true);
  if (!WorkInProgress()) return;
  // Stopped may be reported only once the work is over: a manager that hears it sooner
  // may kill the process in the middle of an update, or start a second instance.
  SetStatus(ServiceStatus::csStopPending);
  auto nextReport = std::chrono::steady_clock::now() + kStopPendingReportInterval;
  while (WorkInProgress()) {
    std::this_thread::sleep_for(kWorkPollStep);
    if (std::chrono::steady_clock::now() >= nextReport) {
      SetStatus(ServiceStatus::csStopPending);
      nextReport += kStopPendingReportInterval;
    }
  }
}

bool ServiceFrame::DoStop() {
  bool stopped = true;
  if (onStop_) onStop_(*this, stopped);
  return stopped;
}

bool ServiceFrame::DoPause() {
  bool paused = true;
  if (onPause_) onPause_(*this, paused);
  return paused;
}

bool ServiceFrame::DoContinue() {
  bool continued = true;
  if (onContinue_) onContinue_(*this, continued);
  return continued;
}

void ServiceFrame::DoInterrogate() { ReportServiceStatus(); }

void ServiceFrame::DoShutdown() {
  if (onShutdown_) onShutdown_(*this);
}

bool ServiceFrame::DoCustomControl(std::uint32_t) { return true; }

void ServiceThread::Terminate() {
  service_.stopping_.store(true);
  service_.threadTerminated_.store(true);
}

void ServiceThread::Execute() {
  ServiceFrame& service = service_;
  bool started = true;
  try {
    service.SetStatus(ServiceStatus::csStartPending);
    if (service.onStart_) service.onStart_(service, started);
  } catch (const std::exception& error) {
    service.LogServiceEvent(std::string("Service failed on start: ") + error.what());
    return;
  }
  if (!started) return;
  try {
    service.SetStatus(ServiceStatus::csRunning);
    if (service.onExecute_) {
      service.onExecute_(service);
    } else {
      ProcessRequests(true);
    }
    ProcessRequests(false);
  } catch (const std::exception& error) {
    service.LogServiceEvent(std::string("Service failed on execute: ") + error.what());
  }
}

void ServiceThread::ProcessRequests(bool wait) {
  ServiceFrame& service = service_;
  for (;;) {
    if (wait && Terminated()) return;
    std::uint32_t code = 0;
    {
      std::unique_lock<std::mutex> lock(service.requestMutex_);
      if (wait) {
        service.requestArrived_.wait(lock, [&] { return !service.requests_.empty(); });
      } else if (service.requests_.empty()) {
        return;
      }
      code = service.requests_.front();
      service.requests_.pop_front();
    }
    HandleControl(code);
  }
}

void ServiceThread::Suspend() {
  ServiceFrame& service = service_;
  std::unique_lock<std::mutex> lock(service.requestMutex_);
  service.requestArrived_.wait(lock, [&] { return !service.requests_.empty(); });
}

void ServiceThread::HandleControl(std::uint32_t code) {
  ServiceFrame& service = service_;
  // Once the thread is told to end, the service is on its way to stopped: a pause would
  // suspend a thread that nobody resumes any more, and a continue would report running
  // while it stops. Only an interrogate is still answered.
  if (Terminated() && code != kControlInterrogate) return;
  const ServiceStatus previous = service.Status();
  try {
    switch (code) {
      case kControlStop:
        service.SetStatus(ServiceStatus::csStopPending);
        if (service.DoStop()) {
          Terminate();
        } else {
          service.SetStatus(previous);
        }
        break;
      case kControlPause:
        service.SetStatus(ServiceStatus::csPausePending);
        if (service.DoPause()) {
          service.SetStatus(ServiceStatus::csPaused);
          Suspend();
        } else {
          service.SetStatus(previous);
        }
        break;
      case kControlContinue:
        service.SetStatus(ServiceStatus::csContinuePending);
        if (service.DoContinue()) {
          service.SetStatus(ServiceStatus::csRunning);
        } else {
          service.SetStatus(previous);
        }
        break;
      case kControlInterrogate:
        service.DoInterrogate();
        break;
      case kControlShutdown:
        service.SetStatus(ServiceStatus::csStopPending);
        try {
          service.DoShutdown();
        } catch (...) {
          Terminate();
          throw;
        }
        Terminate();
        break;
      default:
        service.DoCustomControl(code);
        break;
    }
  } catch (const std::exception& error) {
    if (code != kControlShutdown) service.SetStatus(previous);
    const char* name = ControlName(code);
    std::string text;
    if (name != nullptr) {
      text = std::string("Service failed on ") + name + ": " + error.what();
    } else {
      text = "Service failed in custom message(" + std::to_string(code) + "): " + error.what();
    }
    service.LogServiceEvent(text);
  }
}

}  // namespace zirvo::host
