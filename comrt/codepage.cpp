// Conversions between UTF-16 and the system code page, with the contract of
// the Windows functions of the same names.
#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>

#include "comrt/internal.h"
#include "serial/ascii.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

int Fail(DWORD error) {
  t_lastError = error;
  return 0;
}

bool IsUtf8Name(const char* charset) {
  return serial::EqualsNoCase(charset, "UTF-8") || serial::EqualsNoCase(charset, "UTF8");
}

// The charset of the environment's locale, looked up again only when the
// variables that name it change.
std::string EnvironmentCharset() {
  static std::mutex lock;
  static std::string key, charset;
  std::string now;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(name);
    now += v != nullptr ? v : "";
    now += '\n';
  }
  std::lock_guard<std::mutex> guard(lock);
  if (charset.empty() || now != key) {
    key = now;
    charset = "ANSI_X3.4-1968";
    if (locale_t l = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
      charset = nl_langinfo_l(CODESET, l);
      freelocale(l);
    }
  }
  return charset;
}

// The charset CP_ACP stands for (see the header).
std::string AcpCharset() {
  const char* name = setlocale(LC_CTYPE, nullptr);
  if (name != nullptr && std::strcmp(name, "C") != 0 && std::strcmp(name, "POSIX") != 0)
    return nl_langinfo(CODESET);
  return EnvironmentCharset();
}

// Resolves a code page to a charset name; empty for UTF-8. False for a code
// page this runtime does not know.
bool CharsetOf(UINT codePage, std::string& charset) {
  switch (codePage) {
    case CP_UTF8:
      charset.clear();
      return true;
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
      charset = AcpCharset();
      if (IsUtf8Name(charset.c_str())) charset.clear();
      return true;
    default:
      return false;
  }
}

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting with `lead` (1 for a stray byte).
size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// Runs `cd` over the `len` bytes at `src` into `out`. At input it cannot
// convert it calls `skip` with that input and what is left of it: `skip`
// appends any replacement to `out` and returns how many bytes to pass over,
// or 0 to fail the conversion. The converter's shift state starts afresh
// after each skip; a stateful charset's closing shift ends the text.
bool Convert(const Iconv& cd, const char* src, size_t len, std::string& out,
             const std::function<size_t(const char* at, size_t left)>& skip) {
  out.clear();
  char buffer[256];
  char* in = const_cast<char*>(src);
  size_t left = len;
  while (left > 0) {
    char* o = buffer;
    size_t room = sizeof buffer;
    const size_t rc = iconv(cd.get(), &in, &left, &o, &room);
    out.append(buffer, static_cast<size_t>(o - buffer));
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      const size_t n = skip(in, left);
      if (n == 0) return false;
      in += n;
      left -= n;
      iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
  }
  char* o = buffer;
  size_t room = sizeof buffer;
  iconv(cd.get(), nullptr, nullptr, &o, &room);
  out.append(buffer, static_cast<size_t>(o - buffer));
  return true;
}

// Text in `charset` to UTF-8. An unconvertible byte becomes U+FFFD, or
// fails the whole conversion when `strict`.
bool CharsetToUtf8(const std::string& charset, const char* src, size_t len, std::string& out,
                   bool strict) {
  Iconv cd("UTF-8", charset.c_str());
  if (!cd.ok()) return false;
  return Convert(cd, src, len, out, [&](const char*, size_t) -> size_t {
    if (strict) return 0;
    out += "\xEF\xBF\xBD";
    return 1;
  });
}

// UTF-8 to `charset`. A character the charset lacks becomes `defaultChar`
// and sets *usedDefault.
bool Utf8ToCharset(const std::string& charset, const std::string& src, std::string& out,
                   const char* defaultChar, bool* usedDefault) {
  Iconv cd(charset.c_str(), "UTF-8");
  if (!cd.ok()) return false;
  return Convert(cd, src.data(), src.size(), out, [&](const char* at, size_t left) {
    out += defaultChar;
    *usedDefault = true;
    return std::min(left, Utf8SequenceLength(static_cast<unsigned char>(*at)));
  });
}

}  // namespace

COMRT_API DWORD GetLastError(void) {
  return t_lastError;
}
COMRT_API void SetLastError(DWORD error) {
  t_lastError = error;
}

COMRT_API int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst,
                                  int dstLen) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
      (dstLen > 0 && dst == nullptr) || (dst != nullptr && dst == static_cast<LPCVOID>(src)))
    return Fail(ERROR_INVALID_PARAMETER);
  if (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) return Fail(ERROR_INVALID_FLAGS);
  std::string charset;
  if (!CharsetOf(codePage, charset)) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;

  std::string utf8;
  std::string_view text(src, length);
  if (!charset.empty()) {
    if (!CharsetToUtf8(charset, src, length, utf8, strict))
      return Fail(strict ? ERROR_NO_UNICODE_TRANSLATION : ERROR_INVALID_PARAMETER);
    text = utf8;
  }
  std::u16string wide;
  if (!comrt::Utf8ToUtf16(text, wide, strict)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  if (wide.size() > static_cast<size_t>(INT32_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const int needed = static_cast<int>(wide.size());
  if (dstLen == 0) return needed;
  if (dstLen < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(dst, wide.data(), wide.size() * sizeof(WCHAR));
  return needed;
}

COMRT_API int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcLen, LPSTR dst,
                                  int dstLen, LPCSTR defaultChar, BOOL* usedDefault) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 ||
      (dstLen > 0 && dst == nullptr) || (dst != nullptr && static_cast<LPCVOID>(dst) == src))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string charset;
  if (!CharsetOf(codePage, charset)) return Fail(ERROR_INVALID_PARAMETER);
  const size_t length = srcLen == -1 ? comrt::OleStrLen(src) + 1 : static_cast<size_t>(srcLen);

  std::string out;
  if (charset.empty()) {
    // UTF-8 has a character for everything: no default character applies.
    if (codePage == CP_UTF8 && (defaultChar != nullptr || usedDefault != nullptr))
      return Fail(ERROR_INVALID_PARAMETER);
    if (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS | WC_NO_BEST_FIT_CHARS))
      return Fail(ERROR_INVALID_FLAGS);
    if (!comrt::Utf16ToUtf8(std::u16string_view(src, length), out,
                            (flags & WC_ERR_INVALID_CHARS) != 0))
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefault != nullptr) *usedDefault = FALSE;
  } else {
    if (flags & ~static_cast<DWORD>(WC_NO_BEST_FIT_CHARS | WC_ERR_INVALID_CHARS))
      return Fail(ERROR_INVALID_FLAGS);
    std::string utf8;
    if (!comrt::Utf16ToUtf8(std::u16string_view(src, length), utf8,
                            (flags & WC_ERR_INVALID_CHARS) != 0))
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
    bool used = false;
    if (!Utf8ToCharset(charset, utf8, out, defaultChar != nullptr ? defaultChar : "?", &used))
      return Fail(ERROR_INVALID_PARAMETER);
    if (usedDefault != nullptr) *usedDefault = used ? TRUE : FALSE;
  }
  if (out.size() > static_cast<size_t>(INT32_MAX)) return Fail(ERROR_INVALID_PARAMETER);
  const int needed = static_cast<int>(out.size());
  if (dstLen == 0) return needed;
  if (dstLen < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(dst, out.data(), out.size());
  return needed;
}
