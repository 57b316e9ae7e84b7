// The process-wide values every part of the service reads.
#pragma once

#include <atomic>

namespace zirvo::service {

// Verbose logging switch, loaded from the settings at every settings read and read by
// every thread; atomic because the service thread and the cycle read it while a settings
// read may change it.
extern std::atomic<bool> DebugMode;

}  // namespace zirvo::service
