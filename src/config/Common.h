// The scrambled text form of stored secrets: every byte of the plain text is combined by
// exclusive-or with a byte of a fixed key and written as two upper-case hexadecimal
// digits. Positions that are multiples of 32 pass unchanged, so key byte 32 is never
// used. The functions keep no state and may run on any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zirvo::config {

// Changing a single byte makes every value scrambled before unreadable.
inline constexpr std::array<std::uint8_t, 32> ScrambleKey = {
    0x8d, 0x8d, 0x91, 0x47, 0x3c, 0xd2, 0xca, 0xe6, 0x23, 0xa6, 0x62, 0x47, 0xc6, 0xf2, 0x01, 0x9a,
    0x82, 0xff, 0x86, 0xc5, 0xe2, 0xac, 0xb5, 0x99, 0x9a, 0x4d, 0x84, 0x1c, 0x9f, 0x30, 0xb0, 0x3b};

// The result of unscrambling a text that is not a valid scrambled form.
inline constexpr std::string_view kInvalidScrambledText = "_";

// Byte-level forms: plain bytes in, scrambled text out, and back.
std::string ScrambleBytes(std::string_view plainBytes);
std::string UnscrambleBytes(std::string_view scrambled);

// Text-level forms used by the service: the plain text is narrow text of this system,
// stored as the Windows-1252 bytes the desktop application uses, so a value scrambled
// on Windows reads the same on Linux.
std::string ScramblePassword(std::string_view plainText);
std::string UnscramblePassword(std::string_view scrambled);

// Reads hexadecimal digits, last digit lowest; a character that is not one of the
// sixteen digits (either case) counts as 0. Wraps at 32 bits.
std::int32_t HexToInt(std::string_view digits);

}  // namespace zirvo::config
