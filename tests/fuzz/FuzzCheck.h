// What the fuzz targets share: a property check that stops the run with a message, so
// that libFuzzer keeps the input as a finding, and a cursor that cuts one input into
// several texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace zirvo::fuzz {

inline void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "Propriété violée : %s\n", property);
  std::abort();
}

// Hands out the input piece by piece: a piece ends at the next byte 0xFF, the last
// piece is the rest.
class Pieces {
 public:
  Pieces(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  std::string_view Next() {
    const auto end = rest_.find('\xff');
    const std::string_view piece = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    return piece;
  }
  bool Empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace zirvo::fuzz
