// Narrow text (system code page) to and from BSTR.
#ifndef TARNCTL_BSTR_TEXT_H
#define TARNCTL_BSTR_TEXT_H

#include <tarnholm/com.h>

#include <string>

namespace tarnctl {

// A new BSTR the caller owns (or hands to a method that takes ownership).
// Throws Error (exit 1) when the text does not convert.
BSTR ToBstr(const std::string& narrow);
// The text of a BSTR; null gives "".
std::string FromBstr(BSTR s);

}  // namespace tarnctl

#endif  // TARNCTL_BSTR_TEXT_H
