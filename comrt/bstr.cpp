// BSTR allocation and the task allocator.
//
// Layout: [UINT32 byte length][characters...][NUL OLECHAR]. The BSTR points
// at the first character.
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "comrt/internal.h"

namespace {

std::atomic<LONG> g_liveStrings{0};

constexpr size_t kPrefix = sizeof(uint32_t);

// Allocates a BSTR of `bytes` bytes, copying from `src` when given (else
// zero-filled). Null when the size does not fit the 32-bit prefix.
BSTR AllocBytes(const void* src, size_t bytes) {
  if (bytes > UINT32_MAX - kPrefix - sizeof(OLECHAR) - 1) return nullptr;
  // One extra byte so that an odd byte length still ends in a whole NUL
  // OLECHAR.
  const size_t total = kPrefix + bytes + sizeof(OLECHAR) + 1;
  auto* block = static_cast<unsigned char*>(std::malloc(total));
  if (block == nullptr) return nullptr;
  const uint32_t length = static_cast<uint32_t>(bytes);
  std::memcpy(block, &length, kPrefix);
  unsigned char* text = block + kPrefix;
  if (src != nullptr)
    std::memcpy(text, src, bytes);
  else
    std::memset(text, 0, bytes);
  std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
  g_liveStrings.fetch_add(1, std::memory_order_relaxed);
  return reinterpret_cast<BSTR>(text);
}

uint32_t ByteLength(BSTR s) {
  uint32_t length;
  std::memcpy(&length, reinterpret_cast<unsigned char*>(s) - kPrefix, kPrefix);
  return length;
}

}  // namespace

namespace comrt {
size_t OleStrLen(const OLECHAR* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}
}  // namespace comrt

COMRT_API BSTR SysAllocString(const OLECHAR* s) {
  if (s == nullptr) return nullptr;
  return AllocBytes(s, comrt::OleStrLen(s) * sizeof(OLECHAR));
}

COMRT_API BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
  if (len > UINT32_MAX / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(s, size_t{len} * sizeof(OLECHAR));
}

COMRT_API BSTR SysAllocStringByteLen(const char* s, UINT bytes) {
  return AllocBytes(s, bytes);
}

COMRT_API void SysFreeString(BSTR s) {
  if (s == nullptr) return;
  g_liveStrings.fetch_sub(1, std::memory_order_relaxed);
  std::free(reinterpret_cast<unsigned char*>(s) - kPrefix);
}

COMRT_API UINT SysStringLen(BSTR s) {
  return s == nullptr ? 0 : ByteLength(s) / sizeof(OLECHAR);
}

COMRT_API UINT SysStringByteLen(BSTR s) {
  return s == nullptr ? 0 : ByteLength(s);
}

// The new string is built before the old one is freed, so `src` may point
// into *s. On failure *s is left as it was.
COMRT_API INT SysReAllocStringLen(BSTR* s, const OLECHAR* src, UINT len) {
  if (s == nullptr) return FALSE;
  BSTR fresh = SysAllocStringLen(src, len);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*s);
  *s = fresh;
  return TRUE;
}

// A null source makes an empty string.
COMRT_API INT SysReAllocString(BSTR* s, const OLECHAR* src) {
  if (s == nullptr) return FALSE;
  static const OLECHAR kEmpty[1] = {0};
  if (src == nullptr) src = kEmpty;
  return SysReAllocStringLen(s, src, static_cast<UINT>(comrt::OleStrLen(src)));
}

COMRT_API LONG comrt_BstrLiveCount(void) {
  return g_liveStrings.load();
}

COMRT_API LPVOID CoTaskMemAlloc(size_t bytes) {
  return std::malloc(bytes == 0 ? 1 : bytes);
}

COMRT_API void CoTaskMemFree(LPVOID p) {
  std::free(p);
}
