// Text the runtime reads: GUIDs, numbers converted out of VARIANTs, and
// UTF-8 conversions. Nothing may crash; successful results must be
// consistent (a parsed GUID formats back to the same text, ignoring case;
// valid UTF-8 round-trips).
#include <comrt/comrt.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::u16string wide(size / 2, u'\0');
  if (!wide.empty()) std::memcpy(wide.data(), data, wide.size() * 2);
  const std::u16string terminated = wide.substr(0, wide.find(u'\0'));

  IID iid{};
  if (IIDFromString(terminated.c_str(), &iid) == S_OK) {
    OLECHAR text[39];
    if (StringFromGUID2(iid, text, 39) != 39) std::abort();
    for (size_t i = 0; i < 38; ++i) {
      char16_t a = text[i], b = terminated[i];
      if (b >= u'a' && b <= u'f') b = static_cast<char16_t>(b - u'a' + u'A');
      if (a != b) std::abort();
    }
  }

  VARIANT src;
  VariantInit(&src);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  for (VARTYPE vt : {VT_I2, VT_I4, VT_UI1, VT_UI4, VT_BOOL, VT_BSTR}) {
    VARIANT dst;
    VariantInit(&dst);
    const HRESULT hr = VariantChangeType(&dst, &src, 0, vt);
    if (SUCCEEDED(hr) && dst.vt != vt) std::abort();
    VariantClear(&dst);
  }
  VariantClear(&src);

  if (size > 0 && size < INT32_MAX) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    if (n <= 0 ||
        MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), out.data(), n) != n)
      std::abort();
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), nullptr,
                            0) > 0) {
      std::string back(size, '\0');
      if (WideCharToMultiByte(CP_UTF8, 0, out.data(), n, back.data(), static_cast<int>(size),
                              nullptr, nullptr) != static_cast<int>(size) ||
          std::memcmp(back.data(), bytes, size) != 0)
        std::abort();
    }
  }
  return 0;
}
