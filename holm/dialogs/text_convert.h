// Wide strings (BSTR) to and from narrow text in the system code page
// (CP_ACP: the ANSI code page on Windows, the locale's charset elsewhere).
#ifndef HOLM_DIALOGS_TEXT_CONVERT_H
#define HOLM_DIALOGS_TEXT_CONVERT_H

#include <tarnholm/com.h>

#include <string>

namespace holm::dialogs {

// The narrow text of s, all SysStringLen(s) characters of it. No string is
// empty text. False (and out empty) when the text cannot be converted.
// May throw std::bad_alloc.
bool BstrToNarrow(BSTR s, std::string& out);

// A new string holding text converted to wide characters; the caller owns
// it. Null when memory runs out or the text cannot be converted.
BSTR NarrowToBstr(const std::string& text);

}  // namespace holm::dialogs

#endif  // HOLM_DIALOGS_TEXT_CONVERT_H
