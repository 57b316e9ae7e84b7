// The body of a form POST ("application/x-www-form-urlencoded").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zirvo::net {

// Encodes one text of a form: a blank becomes "+", letters, digits and "*-._" stay, every
// other character is written as its UTF-8 bytes in "%XX" form (upper-case hex). A
// character UTF-8 cannot hold (an unpaired surrogate) becomes "&#" + code + ";". The
// text is the program's narrow text. Pure.
std::string EncodeFormText(std::string_view text);

// Encodes the field lines ("name=value"; the name and the value are encoded apart, a
// line without "=" whole) and joins them with "&". One line is trimmed of blanks and
// control characters at both ends; several are joined with CR LF, the whole is trimmed
// and every CR LF becomes "&". Pure.
std::string EncodeFormFields(const std::vector<std::string>& lines);

}  // namespace zirvo::net
