// ASCII letter case: folding and comparing texts without regard to the case
// of the letters A-Z. Every other byte (digits, punctuation, bytes from 0x80
// up in any character set) compares exactly, so the result never depends on
// the process locale.
#ifndef SERIAL_ASCII_H
#define SERIAL_ASCII_H

#include <string>
#include <string_view>

namespace serial {

// 'A'..'Z' to 'a'..'z'; any other byte unchanged.
constexpr char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with its ASCII letters folded to lower case.
std::string LowerAscii(std::string_view text);

// True when both texts have the same length and equal bytes after folding
// ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);

// True when text begins with prefix, ASCII letter case ignored.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

}  // namespace serial

#endif  // SERIAL_ASCII_H
