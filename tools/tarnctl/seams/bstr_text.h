// Narrow text (system code page) to and from BSTR for tarnctl: the public
// conversions of tarnholm/text.h, with tarnctl's error for text that does
// not convert. Every character passes, an embedded NUL included; a byte
// the code page does not define becomes U+FFFD.
#ifndef TARNCTL_BSTR_TEXT_H
#define TARNCTL_BSTR_TEXT_H

#include <tarnholm/com.h>
#include <tarnholm/text.h>

#include <string>

namespace tarnctl {

using tarnholm::TextKind;

// A new BSTR the caller owns (or hands to a method that takes ownership).
// Throws Error (exit 1) when the text does not convert, and for a file
// name with a byte the code page does not define (it would name another
// file).
BSTR ToBstr(const std::string& narrow, TextKind kind = TextKind::kText);
// The text of a BSTR; null gives "". A text that does not convert gives "".
std::string FromBstr(BSTR s);

}  // namespace tarnctl

#endif  // TARNCTL_BSTR_TEXT_H
