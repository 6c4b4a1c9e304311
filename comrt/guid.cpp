// GUID text: the braced form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#include <cstdio>
#include <cstring>

#include "comrt/internal.h"

namespace comrt {
namespace {

constexpr size_t kGuidChars = 38;

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos].
bool ReadHex(std::u16string_view text, size_t pos, int digits, uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<unsigned>(v);
  }
  return true;
}

}  // namespace

std::string FormatGuid(const GUID& g) {
  char text[kGuidChars + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuid(std::u16string_view t, GUID& guid) {
  if (t.size() != kGuidChars || t[0] != u'{' || t[37] != u'}' || t[9] != u'-' || t[14] != u'-' ||
      t[19] != u'-' || t[24] != u'-')
    return false;
  GUID g{};
  uint64_t v;
  if (!ReadHex(t, 1, 8, v)) return false;
  g.Data1 = static_cast<uint32_t>(v);
  if (!ReadHex(t, 10, 4, v)) return false;
  g.Data2 = static_cast<uint16_t>(v);
  if (!ReadHex(t, 15, 4, v)) return false;
  g.Data3 = static_cast<uint16_t>(v);
  static constexpr size_t kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(t, kBytePos[i], 2, v)) return false;
    g.Data4[i] = static_cast<uint8_t>(v);
  }
  guid = g;
  return true;
}

}  // namespace comrt

COMRT_API int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size) {
  const std::string text = comrt::FormatGuid(guid);
  const int needed = static_cast<int>(text.size()) + 1;
  if (buffer == nullptr || size < needed) return 0;
  for (int i = 0; i < needed; ++i) buffer[i] = static_cast<OLECHAR>(text.c_str()[i]);
  return needed;
}

COMRT_API HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = nullptr;
  auto* buffer = static_cast<LPOLESTR>(CoTaskMemAlloc((comrt::kGuidChars + 1) * sizeof(OLECHAR)));
  if (buffer == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(clsid, buffer, comrt::kGuidChars + 1);
  *text = buffer;
  return S_OK;
}

// Text that does not start with a brace is taken as a ProgID, as on Windows.
// A null text is CLSID_NULL.
COMRT_API HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (clsid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  const std::u16string_view view(text, comrt::OleStrLen(text));
  if (!view.empty() && view[0] == u'{') {
    if (!comrt::ParseGuid(view, *clsid)) return CO_E_CLASSSTRING;
    return S_OK;
  }
  const HRESULT hr = CLSIDFromProgID(text, clsid);
  if (hr == REGDB_E_READREGDB) return hr;
  return FAILED(hr) ? CO_E_CLASSSTRING : hr;
}

// Only the braced form; anything else is E_INVALIDARG. A null text is IID_NULL.
COMRT_API HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (iid == nullptr) return E_INVALIDARG;
  if (text == nullptr) {
    *iid = IID_NULL;
    return S_OK;
  }
  if (!comrt::ParseGuid(std::u16string_view(text, comrt::OleStrLen(text)), *iid))
    return E_INVALIDARG;
  return S_OK;
}
