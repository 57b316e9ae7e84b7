// SHA-1, for identifiers that systems derive from names with it (a Windows service's
// security identifier). Not for protecting anything.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zirvo {

std::array<std::uint8_t, 20> Sha1(std::string_view bytes);

}  // namespace zirvo
