// A minimal in-process server, written against the runtime's API only.
// DllCanUnloadNow answers S_OK only while no object, no server lock and no
// factory reference is outstanding. Setting TEST_COMPONENT_FAIL_REGISTER
// makes DllRegisterServer fail.
#include "tests/comrt/test_component.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <string>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<LONG> g_locks{0};

class Widget final : public IWidget {
 public:
  Widget() { ++g_locks; }
  ~Widget() { --g_locks; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWidget)) {
      *ppv = static_cast<IWidget*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Add(LONG a, LONG b, LONG* sum) override {
    if (sum == nullptr) return E_POINTER;
    *sum = a + b;
    return S_OK;
  }

 private:
  std::atomic<ULONG> refs_{1};
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // A static object: references only keep the library in use.
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++g_locks); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--g_locks); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Widget* w = new Widget;
    const HRESULT hr = w->QueryInterface(iid, ppv);
    w->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      ++g_locks;
    else
      --g_locks;
    return S_OK;
  }
};

Factory g_factory;

bool Set(const std::string& key, const std::string& value) {
  return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                      static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_TestWidget)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, ppv);
}

EXPORT HRESULT DllCanUnloadNow() {
  return g_locks.load() == 0 ? S_OK : S_FALSE;
}

EXPORT HRESULT DllRegisterServer() {
  if (getenv("TEST_COMPONENT_FAIL_REGISTER") != nullptr) return E_FAIL;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || info.dli_fname == nullptr)
    return E_UNEXPECTED;
  const std::string clsid = "{6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}";
  const std::string progId = kTestWidgetProgId;
  // The server key is spelled the way the framework spells it; lookups use
  // "InprocServer32".
  const bool ok = Set(progId, progId) && Set(progId + "\\CLSID", clsid) &&
                  Set("CLSID\\" + clsid, progId) && Set("CLSID\\" + clsid + "\\ProgID", progId) &&
                  Set("CLSID\\" + clsid + "\\InProcServer32", info.dli_fname);
  return ok ? S_OK : E_FAIL;
}
