// The status reports of a running service on Linux, shared by the POSIX dispatcher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ServiceManager.h"

namespace zirvo::platform::posix {

// The registration of a running service: notify datagrams to systemd when NOTIFY_SOCKET
// names its socket, the runtime status record, and with console one printed line per
// change. Returns null with the system error code in error when the notify socket is
// malformed or cannot be created.
std::unique_ptr<ServiceStatusHandle> CreateStatusHandle(const std::string& name, bool console,
                                                        std::uint32_t& error);

}  // namespace zirvo::platform::posix
