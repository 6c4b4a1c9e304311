// Helpers shared by the runtime's own sources; not part of the public API.
#ifndef COMRT_INTERNAL_H
#define COMRT_INTERNAL_H

#include <comrt/comrt.h>

#include <optional>
#include <string>
#include <string_view>

namespace comrt {

// UTF-8 <-> UTF-16. Malformed input becomes U+FFFD unless `strict`, in
// which case the conversion fails (returns false).
bool Utf8ToUtf16(std::string_view in, std::u16string& out, bool strict);
bool Utf16ToUtf8(std::u16string_view in, std::string& out, bool strict);

// Length of a NUL-terminated OLECHAR string.
size_t OleStrLen(const OLECHAR* s);

// The braced GUID text, narrow: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
std::string FormatGuid(const GUID& guid);
// Parses exactly the braced form (38 characters, nothing after it).
bool ParseGuid(std::u16string_view text, GUID& guid);

// The default value of HKEY_CLASSES_ROOT\<path>. Returns ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND (no such key), ERROR_CANTREAD or ERROR_BADDB.
LONG ReadClassesValue(const std::string& path, std::string& value);

// Frees every unused library; run when the last CoUninitialize returns.
void FreeUnusedLibraries();

}  // namespace comrt

#endif  // COMRT_INTERNAL_H
