// Components of the service form that are the service's own rather than another
// layer's.
#pragma once

#include "host/ServiceHost.h"

namespace zirvo::service {

// Keeps the main loop served while a network call made on the main thread waits: the
// HTTP client calls Pump between its wait steps. Main thread only.
class TAntiFreeze {
 public:
  explicit TAntiFreeze(host::ServiceHost& host) : host_(host) {}
  void Pump() { host_.ProcessMessages(); }

 private:
  host::ServiceHost& host_;
};

}  // namespace zirvo::service
