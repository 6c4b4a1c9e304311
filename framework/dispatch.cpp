#include "framework/dispatch.h"

#include <cstring>
#include <new>
#include <vector>

namespace fw {
namespace {

bool NameEquals(const OLECHAR* wide, const char* name) {
  for (;; ++wide, ++name) {
    unsigned a = static_cast<unsigned>(*wide);
    unsigned b = static_cast<unsigned char>(*name);
    if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
    if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
    if (a != b) return false;
    if (a == 0) return true;
  }
}

// Points a temporary at the caller's string variable for a by-reference
// string parameter. FALSE when the argument is no string variable.
bool BindStringRef(VARIANT* src, VARIANT* out) {
  if (src->vt == (VT_BYREF | VT_BSTR)) {
    out->pbstrVal = src->pbstrVal;
    return out->pbstrVal != nullptr;
  }
  if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal != nullptr) {
    VARIANT* inner = src->pvarVal;
    if (inner->vt == (VT_BYREF | VT_BSTR)) {
      out->pbstrVal = inner->pbstrVal;
      return out->pbstrVal != nullptr;
    }
    if (inner->vt == VT_EMPTY || inner->vt == VT_NULL) {
      inner->vt = VT_BSTR;
      inner->bstrVal = nullptr;
    }
    if (inner->vt == VT_BSTR) {
      out->pbstrVal = &inner->bstrVal;
      return true;
    }
  }
  return false;
}

}  // namespace

HRESULT DispatchTable::GetTypeInfoCount(UINT* count) const {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT DispatchTable::GetTypeInfo(UINT, LCID, ITypeInfo** info) const {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT DispatchTable::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                     DISPID* ids) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_POINTER;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (names[0] == nullptr) return DISP_E_UNKNOWNNAME;
  for (UINT m = 0; m < count_; ++m) {
    if (NameEquals(names[0], methods_[m].name)) {
      ids[0] = static_cast<DISPID>(m + 1);
      // Parameters are positional only: no parameter names are known.
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchTable::Invoke(void* self, DISPID id, REFIID iid, LCID, WORD flags,
                              DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                              UINT* argErr) const {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (id < 1 || static_cast<UINT>(id) > count_) return DISP_E_MEMBERNOTFOUND;
  // Script hosts call a method without parentheses as METHOD|PROPERTYGET.
  if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
  const DispMethod& method = methods_[id - 1];
  const UINT given = params != nullptr ? params->cArgs : 0;
  if (params != nullptr && params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (given != method.paramCount) return DISP_E_BADPARAMCOUNT;
  if (given != 0 && params->rgvarg == nullptr) return E_POINTER;

  std::vector<VARIANT> args;
  try {
    args.resize(given);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (VARIANT& v : args) VariantInit(&v);

  auto clear = [&args, &method] {
    for (UINT i = 0; i < args.size(); ++i) {
      if (method.params[i] & VT_BYREF) args[i].vt = VT_EMPTY;  // borrowed: the caller's variable
      VariantClear(&args[i]);
    }
  };

  HRESULT hr = S_OK;
  for (UINT i = 0; i < given && SUCCEEDED(hr); ++i) {
    // Arguments arrive last first.
    VARIANT* src = &params->rgvarg[given - 1 - i];
    const VARTYPE want = method.params[i];
    if (want == (VT_BSTR | VT_BYREF)) {
      args[i].vt = want;
      if (!BindStringRef(src, &args[i])) {
        args[i].vt = VT_EMPTY;
        hr = DISP_E_TYPEMISMATCH;
      }
    } else {
      hr = VariantChangeType(&args[i], src, 0, want);
    }
    if (FAILED(hr) && argErr != nullptr) *argErr = given - 1 - i;
  }
  if (FAILED(hr)) {
    clear();
    return hr;
  }

  if (result != nullptr) VariantInit(result);
  try {
    hr = method.call(self, DispArgs(args.data(), given));
  } catch (...) {
    if (excepInfo != nullptr) {
      std::memset(excepInfo, 0, sizeof *excepInfo);
      excepInfo->scode = E_FAIL;
    }
    hr = DISP_E_EXCEPTION;
  }
  clear();
  return hr;
}

}  // namespace fw
