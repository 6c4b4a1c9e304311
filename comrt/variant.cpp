// VARIANT lifetime, copying and type conversion.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "comrt/internal.h"

namespace {

bool IsIntegerType(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
    case VT_I4:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

// The types a VARIANT may hold by value.
bool IsValueType(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
      return true;
    default:
      return IsIntegerType(vt);
  }
}

// The types a VARIANT may point at (VT_BYREF | vt).
bool IsByRefType(VARTYPE vt) {
  return vt != VT_EMPTY && vt != VT_NULL && (IsValueType(vt) || vt == VT_VARIANT);
}

bool IsValidType(VARTYPE vt) {
  if (vt & VT_BYREF) return IsByRefType(static_cast<VARTYPE>(vt & ~VT_BYREF));
  return IsValueType(vt);
}

void Reset(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

// Reads the integer a VARIANT holds; false when it holds none.
bool ReadInteger(const VARIANT& v, int64_t& out) {
  switch (v.vt) {
    case VT_I2:
      out = v.iVal;
      return true;
    case VT_I4:
      out = v.lVal;
      return true;
    case VT_UI1:
      out = v.bVal;
      return true;
    case VT_UI2:
      out = v.uiVal;
      return true;
    case VT_UI4:
      out = v.ulVal;
      return true;
    case VT_INT:
      out = v.intVal;
      return true;
    case VT_UINT:
      out = v.uintVal;
      return true;
    default:
      return false;
  }
}

HRESULT WriteInteger(int64_t value, VARTYPE vt, VARIANT& out) {
  int64_t lo, hi;
  switch (vt) {
    case VT_I2:
      lo = INT16_MIN, hi = INT16_MAX;
      break;
    case VT_I4:
    case VT_INT:
      lo = INT32_MIN, hi = INT32_MAX;
      break;
    case VT_UI1:
      lo = 0, hi = UINT8_MAX;
      break;
    case VT_UI2:
      lo = 0, hi = UINT16_MAX;
      break;
    case VT_UI4:
    case VT_UINT:
      lo = 0, hi = UINT32_MAX;
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  if (value < lo || value > hi) return DISP_E_OVERFLOW;
  out.vt = vt;
  switch (vt) {
    case VT_I2:
      out.iVal = static_cast<SHORT>(value);
      break;
    case VT_I4:
      out.lVal = static_cast<LONG>(value);
      break;
    case VT_INT:
      out.intVal = static_cast<INT>(value);
      break;
    case VT_UI1:
      out.bVal = static_cast<BYTE>(value);
      break;
    case VT_UI2:
      out.uiVal = static_cast<USHORT>(value);
      break;
    default:
      out.ulVal = static_cast<ULONG>(value);
      break;
  }
  return S_OK;
}

bool IsSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool EqualsAsciiNoCase(std::u16string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i) {
    char16_t c = a[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != static_cast<char16_t>(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

// Decimal text to an integer: blanks around, an optional sign, digits and
// an optional fraction that is rounded half to even (as the automation
// conversions do). Values beyond any target's range saturate to a value
// that is still out of every range, so the caller reports an overflow.
HRESULT ParseNumber(std::u16string_view s, int64_t& out) {
  size_t i = 0, end = s.size();
  while (i < end && IsSpace(s[i])) ++i;
  while (end > i && IsSpace(s[end - 1])) --end;
  bool negative = false;
  if (i < end && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  constexpr int64_t kHuge = int64_t{1} << 40;
  int64_t value = 0;
  size_t digits = 0;
  for (; i < end && s[i] >= u'0' && s[i] <= u'9'; ++i, ++digits)
    value = value > kHuge ? value : value * 10 + (s[i] - u'0');
  size_t fractionDigits = 0;
  int firstFraction = 0;
  bool restNonZero = false;
  if (i < end && s[i] == u'.') {
    for (++i; i < end && s[i] >= u'0' && s[i] <= u'9'; ++i, ++fractionDigits) {
      if (fractionDigits == 0)
        firstFraction = s[i] - u'0';
      else if (s[i] != u'0')
        restNonZero = true;
    }
  }
  if (i != end || digits + fractionDigits == 0) return DISP_E_TYPEMISMATCH;
  if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || (value & 1)))) ++value;
  out = negative ? -value : value;
  return S_OK;
}

HRESULT MakeString(const std::string& ascii, VARIANT& out) {
  std::u16string wide(ascii.begin(), ascii.end());
  BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (b == nullptr) return E_OUTOFMEMORY;
  out.vt = VT_BSTR;
  out.bstrVal = b;
  return S_OK;
}

// Converts a by-value source to vt into `out` (which starts empty).
HRESULT Convert(const VARIANT& src, USHORT flags, VARTYPE vt, VARIANT& out) {
  if (src.vt == vt) return VariantCopy(&out, &src);
  if (vt == VT_EMPTY) return S_OK;  // anything can be emptied
  if (src.vt == VT_NULL || vt == VT_NULL) {
    if (src.vt == VT_EMPTY || src.vt == VT_NULL) {
      out.vt = VT_NULL;
      return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
  }

  // Read the source as an integer, a boolean or text.
  int64_t number = 0;
  bool isBool = false;
  if (src.vt == VT_EMPTY) {
    number = 0;
  } else if (src.vt == VT_BOOL) {
    number = src.boolVal ? -1 : 0;
    isBool = true;
  } else if (ReadInteger(src, number)) {
  } else if (src.vt == VT_BSTR) {
    const std::u16string_view text(src.bstrVal == nullptr ? u"" : src.bstrVal,
                                   SysStringLen(src.bstrVal));
    if (vt == VT_BOOL) {
      std::u16string_view trimmed = text;
      while (!trimmed.empty() && IsSpace(trimmed.front())) trimmed.remove_prefix(1);
      while (!trimmed.empty() && IsSpace(trimmed.back())) trimmed.remove_suffix(1);
      if (EqualsAsciiNoCase(trimmed, "true")) {
        number = -1;
      } else if (EqualsAsciiNoCase(trimmed, "false")) {
        number = 0;
      } else {
        const HRESULT hr = ParseNumber(text, number);
        if (FAILED(hr)) return hr;
      }
    } else if (vt == VT_BSTR) {
      return VariantCopy(&out, &src);
    } else {
      const HRESULT hr = ParseNumber(text, number);
      if (FAILED(hr)) return hr;
    }
  } else {
    // Interfaces and error codes have no conversion here.
    return DISP_E_TYPEMISMATCH;
  }

  if (vt == VT_BOOL) {
    out.vt = VT_BOOL;
    out.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  if (vt == VT_BSTR) {
    if (src.vt == VT_EMPTY) return MakeString("", out);
    if (isBool && (flags & VARIANT_ALPHABOOL)) return MakeString(number ? "True" : "False", out);
    return MakeString(std::to_string(number), out);
  }
  if (IsIntegerType(vt)) {
    // VARIANT_TRUE is all bits set in every integer width.
    if (isBool && number != 0) {
      if (vt == VT_UI1) number = UINT8_MAX;
      if (vt == VT_UI2) number = UINT16_MAX;
      if (vt == VT_UI4 || vt == VT_UINT) number = UINT32_MAX;
    }
    return WriteInteger(number, vt, out);
  }
  return DISP_E_BADVARTYPE;
}

// The VARIANT a by-reference source stands for, as a by-value copy of the
// pointed-at value (not owning it).
HRESULT Dereference(const VARIANT& src, VARIANT& view) {
  Reset(&view);
  if (!(src.vt & VT_BYREF)) {
    view = src;
    return S_OK;
  }
  if (src.byref == nullptr) return E_INVALIDARG;
  const auto vt = static_cast<VARTYPE>(src.vt & ~VT_BYREF);
  view.vt = vt;
  switch (vt) {
    case VT_VARIANT:
      // One level only: a VARIANT pointing at a by-reference VARIANT is not
      // followed further, as on Windows.
      if (src.pvarVal->vt == (VT_BYREF | VT_VARIANT)) return DISP_E_BADVARTYPE;
      return Dereference(*src.pvarVal, view);
    case VT_I2:
      view.iVal = *src.piVal;
      return S_OK;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
      view.lVal = *src.plVal;
      return S_OK;
    case VT_UI1:
      view.bVal = *src.pbVal;
      return S_OK;
    case VT_UI2:
    case VT_BOOL:
      view.uiVal = *static_cast<USHORT*>(src.byref);
      return S_OK;
    case VT_UI4:
    case VT_UINT:
      view.ulVal = *static_cast<ULONG*>(src.byref);
      return S_OK;
    case VT_BSTR:
      view.bstrVal = *src.pbstrVal;
      return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      view.punkVal = *static_cast<IUnknown**>(src.byref);
      return S_OK;
    default:
      return DISP_E_BADVARTYPE;
  }
}

}  // namespace

COMRT_API void VariantInit(VARIANTARG* v) {
  if (v != nullptr) Reset(v);
}

COMRT_API HRESULT VariantClear(VARIANTARG* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (!IsValidType(v->vt)) return DISP_E_BADVARTYPE;
  switch (v->vt) {
    case VT_BSTR:
      SysFreeString(v->bstrVal);
      break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      if (v->punkVal != nullptr) v->punkVal->Release();
      break;
    default:
      break;  // by-reference forms own nothing
  }
  Reset(v);
  return S_OK;
}

COMRT_API HRESULT VariantCopy(VARIANTARG* dst, const VARIANTARG* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (dst == src) return S_OK;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  VARIANT copy = *src;
  if (src->vt == VT_BSTR && src->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(src->bstrVal),
                                         SysStringByteLen(src->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  }
  const HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) {
    if (copy.vt == VT_BSTR) SysFreeString(copy.bstrVal);
    return hr;
  }
  if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr)
    copy.punkVal->AddRef();
  *dst = copy;
  return S_OK;
}

COMRT_API HRESULT VariantChangeType(VARIANTARG* dst, const VARIANTARG* src, USHORT flags,
                                    VARTYPE vt) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (!IsValidType(src->vt)) return DISP_E_BADVARTYPE;
  if ((vt & VT_BYREF) || !IsValueType(vt)) return DISP_E_BADVARTYPE;
  VARIANT view;
  HRESULT hr = Dereference(*src, view);
  if (FAILED(hr)) return hr;
  VARIANT result;
  Reset(&result);
  hr = Convert(view, flags, vt, result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;  // dst is left as it was
  }
  // dst may be src: the source is only released now that the result exists.
  hr = VariantClear(dst);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dst = result;
  return S_OK;
}
