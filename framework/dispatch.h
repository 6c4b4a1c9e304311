// Dispatch by position: an object's automation methods are listed in a
// table, and each method's dispatch identifier is its position in the
// table plus one. GetIDsOfNames finds a method by name without regard to
// case; Invoke checks and coerces the arguments to the declared types and
// calls the method.
//
// Declared parameter types: VT_I4 (a 32-bit number: anything that converts),
// VT_BSTR (a string by value: anything that converts; owned by the dispatch
// layer for the call, so a method that keeps it must copy it) and
// VT_BSTR | VT_BYREF (the caller's string variable, given as
// VT_BYREF|VT_BSTR or as VT_BYREF|VT_VARIANT holding a string or nothing).
#ifndef FRAMEWORK_DISPATCH_H
#define FRAMEWORK_DISPATCH_H

#include <tarnholm/com.h>

namespace fw {

class DispArgs {
 public:
  DispArgs(VARIANT* args, UINT count) : args_(args), count_(count) {}
  UINT Count() const { return count_; }
  // Argument i in declared order (0 = first parameter).
  LONG I4(UINT i) const { return args_[i].lVal; }
  BSTR Bstr(UINT i) const { return args_[i].bstrVal; }
  BSTR* BstrRef(UINT i) const { return args_[i].pbstrVal; }

 private:
  VARIANT* args_;
  UINT count_;
};

struct DispMethod {
  const char* name;
  const VARTYPE* params;
  UINT paramCount;
  HRESULT (*call)(void* self, const DispArgs& args);
};

class DispatchTable {
 public:
  DispatchTable(const DispMethod* methods, UINT count) : methods_(methods), count_(count) {}

  HRESULT GetTypeInfoCount(UINT* count) const;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) const;
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) const;
  HRESULT Invoke(void* self, DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) const;

 private:
  const DispMethod* methods_;
  UINT count_;
};

}  // namespace fw

// Implements IDispatch's four methods by forwarding to a DispatchTable
// (an expression valid in the class body, e.g. a static member).
#define FW_IDISPATCH_IMPL(table)                                                                   \
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* fw_count) override {                            \
    return (table).GetTypeInfoCount(fw_count);                                                     \
  }                                                                                                \
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT fw_index, LCID fw_lcid, ITypeInfo** fw_info)          \
      override {                                                                                   \
    return (table).GetTypeInfo(fw_index, fw_lcid, fw_info);                                        \
  }                                                                                                \
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID fw_iid, LPOLESTR* fw_names, UINT fw_count,        \
                                          LCID fw_lcid, DISPID* fw_ids) override {                 \
    return (table).GetIDsOfNames(fw_iid, fw_names, fw_count, fw_lcid, fw_ids);                     \
  }                                                                                                \
  HRESULT STDMETHODCALLTYPE Invoke(DISPID fw_id, REFIID fw_iid, LCID fw_lcid, WORD fw_flags,       \
                                   DISPPARAMS* fw_params, VARIANT* fw_result, EXCEPINFO* fw_excep, \
                                   UINT* fw_argErr) override {                                     \
    return (table).Invoke(this, fw_id, fw_iid, fw_lcid, fw_flags, fw_params, fw_result, fw_excep,  \
                          fw_argErr);                                                              \
  }

#endif  // FRAMEWORK_DISPATCH_H
