#include "config/Common.h"

#include "base/StringUtils.h"
#include "platform/CodePage.h"

namespace zirvo::config {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Position is 1-based; every 32nd byte is left as it is.
unsigned char CombineWithKey(unsigned char byte, std::size_t position) {
  const std::size_t keyIndex = position % 32;
  return keyIndex == 0 ? byte : static_cast<unsigned char>(byte ^ ScrambleKey[keyIndex - 1]);
}

// Codes 48 to 70: the digits, the seven signs between them and the letters, and "A"-"F".
bool InScrambledRange(char c) { return c >= 48 && c <= 70; }

}  // namespace

std::string ScrambleBytes(std::string_view plainBytes) {
  std::string result;
  result.reserve(plainBytes.size() * 2);
  for (std::size_t i = 0; i < plainBytes.size(); ++i) {
    const unsigned char byte = CombineWithKey(static_cast<unsigned char>(plainBytes[i]), i + 1);
    result += kHexDigits[byte >> 4];
    result += kHexDigits[byte & 0x0F];
  }
  return result;
}

std::string UnscrambleBytes(std::string_view scrambled) {
  if (scrambled.size() % 2 != 0) return std::string(kInvalidScrambledText);
  std::string bytes;
  bytes.reserve(scrambled.size() / 2);
  for (std::size_t k = 0; k < scrambled.size(); k += 2) {
    if (!InScrambledRange(scrambled[k]) || !InScrambledRange(scrambled[k + 1])) {
      return std::string(kInvalidScrambledText);
    }
    bytes += static_cast<char>(HexToInt(scrambled.substr(k, 2)) & 0xFF);
  }
  for (std::size_t j = 0; j < bytes.size(); ++j) {
    bytes[j] = static_cast<char>(CombineWithKey(static_cast<unsigned char>(bytes[j]), j + 1));
  }
  return bytes;
}

std::string ScramblePassword(std::string_view plainText) {
  return ScrambleBytes(platform::AnsiToLegacyBytes(plainText));
}

std::string UnscramblePassword(std::string_view scrambled) {
  return platform::LegacyBytesToAnsi(UnscrambleBytes(scrambled));
}

std::int32_t HexToInt(std::string_view digits) {
  std::uint32_t result = 0;
  std::uint32_t weight = 1;
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    const char c = AsciiUpper(*it);
    std::uint32_t value = 0;
    for (std::uint32_t d = 0; d < 16; ++d) {
      if (kHexDigits[d] == c) value = d;
    }
    result += value * weight;
    weight *= 16;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace zirvo::config
