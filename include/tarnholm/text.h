// Narrow text to and from component strings (BSTR), with one behaviour on
// every platform. Narrow text is in the system code page: the ANSI code
// page on Windows (which may be UTF-8, 65001), the locale's character set
// elsewhere. Header-only, on the runtime's MultiByteToWideChar and
// WideCharToMultiByte (see tarnholm/com.h).
//
// Both directions convert the whole length: an embedded NUL is a character
// like any other, and a null string is empty text.
//  - Narrow to wide: a byte sequence the code page does not define becomes
//    U+FFFD, byte by byte, and costs only those bytes: every character
//    around it comes back as it was.
//  - Wide to narrow: in text, a character the code page lacks becomes the
//    code page's default character. A file name must name the file the
//    caller meant, so a character without an exact narrow form (no
//    look-alike is taken), a lone surrogate or a NUL refuses it; the same
//    holds the other way for a name with an undefined byte or a NUL.
// Memory exhaustion throws std::bad_alloc. Every other failure (a code page
// the system cannot convert, a refused file name) is reported by the
// result.
#ifndef TARNHOLM_TEXT_H
#define TARNHOLM_TEXT_H

#include <tarnholm/com.h>

#include <climits>
#include <new>
#include <string>
#include <string_view>

namespace tarnholm {

enum class TextKind { kText, kFileName };

namespace text_detail {

using WideText = std::basic_string<OLECHAR>;

// A failed conversion: std::bad_alloc when memory ran out, else false.
inline bool Failed() {
  const DWORD error = GetLastError();
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY) throw std::bad_alloc();
  return false;
}

inline bool HasLoneSurrogate(const OLECHAR* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned c = static_cast<unsigned>(s[i]);
    if (c < 0xD800 || c > 0xDFFF) continue;
    const unsigned next = i + 1 < n ? static_cast<unsigned>(s[i + 1]) : 0;
    if (c > 0xDBFF || next < 0xDC00 || next > 0xDFFF) return true;
    ++i;
  }
  return false;
}

// Wide to the system code page. For a file name the characters without an
// exact narrow form are reported in *inexact; a code page with a form for
// every character (UTF-8) refuses that question and is asked without it.
inline int WideToCodePage(const OLECHAR* s, int length, char* out, int room, bool fileName,
                          BOOL* inexact) {
  if (!fileName) return WideCharToMultiByte(CP_ACP, 0, s, length, out, room, nullptr, nullptr);
  *inexact = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, s, length, out, room, nullptr, inexact);
  const DWORD error = n > 0 ? ERROR_SUCCESS : GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_INVALID_FLAGS) return n;
  return WideCharToMultiByte(CP_ACP, 0, s, length, out, room, nullptr, nullptr);
}

enum class Piece { kAppended, kUndefined, kFailed };

// Appends the wide form of piece, which the code page must define whole.
inline Piece AppendStrict(std::string_view piece, WideText& wide) {
  const int length = static_cast<int>(piece.size());
  const int needed =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, piece.data(), length, nullptr, 0);
  if (needed <= 0) {
    if (GetLastError() == ERROR_NO_UNICODE_TRANSLATION) return Piece::kUndefined;
    Failed();  // throws when memory ran out
    return Piece::kFailed;
  }
  const size_t old = wide.size();
  wide.resize(old + static_cast<size_t>(needed));
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, piece.data(), length, &wide[old], needed) !=
      needed) {
    wide.resize(old);
    return Piece::kUndefined;
  }
  return Piece::kAppended;
}

// A line with an undefined byte, character by character: the shortest
// piece of up to four bytes that forms a character is taken, and a byte
// that starts none becomes U+FFFD.
inline bool AppendReplacingUndefined(std::string_view line, WideText& wide) {
  size_t i = 0;
  while (i < line.size()) {
    size_t taken = 0;
    for (size_t k = 1; k <= 4 && i + k <= line.size() && taken == 0; ++k) {
      const Piece piece = AppendStrict(line.substr(i, k), wide);
      if (piece == Piece::kFailed) return false;
      if (piece == Piece::kAppended) taken = k;
    }
    if (taken == 0) {
      wide.push_back(static_cast<OLECHAR>(0xFFFD));
      taken = 1;
    }
    i += taken;
  }
  return true;
}

// Text that is not defined whole is decoded line by line, and only a line
// with an undefined byte character by character.
inline bool AppendText(std::string_view text, WideText& wide) {
  const Piece whole = AppendStrict(text, wide);
  if (whole != Piece::kUndefined) return whole == Piece::kAppended;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    const Piece piece = AppendStrict(line, wide);
    if (piece == Piece::kFailed) return false;
    if (piece == Piece::kUndefined && !AppendReplacingUndefined(line, wide)) return false;
    start = end;
  }
  return true;
}

}  // namespace text_detail

// The narrow form of all SysStringLen(s) characters of s into out. False
// (out empty) when the code page cannot convert the text or refuses the
// file name.
inline bool BstrToNarrow(BSTR s, std::string& out, TextKind kind = TextKind::kText) {
  out.clear();
  const UINT length = s != nullptr ? SysStringLen(s) : 0;
  if (length == 0) return true;
  if (length > static_cast<UINT>(INT_MAX)) return false;
  const bool fileName = kind == TextKind::kFileName;
  if (fileName && text_detail::HasLoneSurrogate(s, length)) return false;
  const int wide = static_cast<int>(length);
  BOOL inexact = FALSE;
  const int needed = text_detail::WideToCodePage(s, wide, nullptr, 0, fileName, &inexact);
  if (needed <= 0) return text_detail::Failed();
  out.resize(static_cast<size_t>(needed));
  const int written = text_detail::WideToCodePage(s, wide, &out[0], needed, fileName, &inexact);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  if (written <= 0) return text_detail::Failed();
  if (fileName && (inexact || out.find('\0') != std::string::npos)) {
    out.clear();
    return false;
  }
  return true;
}

// A new string holding text in wide form; the caller owns it. Null when
// the code page cannot convert the text or refuses the file name.
inline BSTR NarrowToBstr(std::string_view text, TextKind kind = TextKind::kText) {
  if (text.size() > static_cast<size_t>(INT_MAX / 2)) throw std::bad_alloc();
  text_detail::WideText wide;
  wide.reserve(text.size());
  if (kind == TextKind::kFileName) {
    if (text.find('\0') != std::string_view::npos) return nullptr;
    if (!text.empty() && text_detail::AppendStrict(text, wide) != text_detail::Piece::kAppended)
      return nullptr;
  } else if (!text.empty() && !text_detail::AppendText(text, wide)) {
    return nullptr;
  }
  BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (out == nullptr) throw std::bad_alloc();
  return out;
}

}  // namespace tarnholm

#endif  // TARNHOLM_TEXT_H
