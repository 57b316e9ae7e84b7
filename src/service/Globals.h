// The process-wide values every part of the service reads.
#pragma once

#include <atomic>
#include <string>

#include "config/ServiceSettings.h"

namespace zirvo::service {

// Verbose logging switch, loaded from the settings at every settings read and read by
// every thread; atomic because the service thread and the cycle read it while a settings
// read may change it.
extern std::atomic<bool> DebugMode;

// The settings values that the settings readers keep from one read to the next; see
// config::TServiceSettings. Written by the settings reads (main thread, and the service
// thread at start).
using config::TServiceSettings;
extern TServiceSettings ServiceSettings;

// The address of the remote access code endpoint, rebuilt by every cycle before the
// MySQL set-up. Main thread.
extern std::string RemoteAccessURL;

}  // namespace zirvo::service
