#include "framework/class_factory.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "framework/module.h"

namespace fw {
namespace {

ClassFactory* g_first = nullptr;
ClassFactory* g_last = nullptr;

BOOL SetKey(const std::string& key, const std::string& value) {
  return RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, value.c_str(),
                      static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

void FormatGuid(const GUID& g, char (&text)[39]) {
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

ClassFactory::ClassFactory(const CLSID& clsid, const char* progId, CreateFn create)
    : clsid_(clsid), progId_(progId), create_(create) {
  if (g_last != nullptr)
    g_last->next_ = this;
  else
    g_first = this;
  g_last = this;
}

ClassFactory::~ClassFactory() {
  ClassFactory** link = &g_first;
  ClassFactory* previous = nullptr;
  while (*link != nullptr && *link != this) {
    previous = *link;
    link = &(*link)->next_;
  }
  if (*link == this) {
    *link = next_;
    if (g_last == this) g_last = previous;
  }
}

void ClassFactory::RegisterAll() {
  for (ClassFactory* f = g_first; f != nullptr; f = f->next_) f->enabled_ = true;
}

ClassFactory* ClassFactory::Find(REFCLSID clsid) {
  for (ClassFactory* f = g_first; f != nullptr; f = f->next_)
    if (f->enabled_ && IsEqualCLSID(f->clsid_, clsid)) return f;
  return nullptr;
}

BOOL ClassFactory::AnyInUse() {
  for (ClassFactory* f = g_first; f != nullptr; f = f->next_)
    if (f->refs_.load() != 0) return TRUE;
  return FALSE;
}

BOOL ClassFactory::UpdateRegistry() const {
  std::string path = ModulePath();
  if (path.empty()) return FALSE;
  char clsid[39];
  FormatGuid(clsid_, clsid);
  const std::string progId = progId_;
  const std::string clsidKey = std::string("CLSID\\") + clsid;
  return SetKey(progId, progId) && SetKey(progId + "\\CLSID", clsid) && SetKey(clsidKey, progId) &&
         SetKey(clsidKey + "\\ProgID", progId) && SetKey(clsidKey + "\\InProcServer32", path);
}

BOOL ClassFactory::UpdateRegistryAll(BOOL registerClasses) {
  if (!registerClasses) return TRUE;
  for (ClassFactory* f = g_first; f != nullptr; f = f->next_)
    if (!f->UpdateRegistry()) return FALSE;
  return TRUE;
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

// The factories are static objects: the counts only tell whether the
// library is in use.
ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
  return ++refs_;
}
ULONG STDMETHODCALLTYPE ClassFactory::Release() {
  return --refs_;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  MaintainState state(ThisModuleState());
  CCmdTarget* object = nullptr;
  try {
    object = create_();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  if (object == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = object->InternalQueryInterface(iid, ppv);
  object->InternalRelease();  // the creation reference; frees the object if the query failed
  return hr;
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
  if (lock)
    LockModule();
  else
    UnlockModule();
  return S_OK;
}

HRESULT DllGetClassObjectImpl(REFCLSID clsid, REFIID iid, LPVOID* ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  MaintainState state(ThisModuleState());
  EnsureInitialized();
  ClassFactory* factory = ClassFactory::Find(clsid);
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(iid, ppv);
}

HRESULT DllCanUnloadNowImpl() {
  MaintainState state(ThisModuleState());
  return (ModuleLockCount() == 0 && !ClassFactory::AnyInUse()) ? S_OK : S_FALSE;
}

HRESULT DllRegisterServerImpl() {
  MaintainState state(ThisModuleState());
  EnsureInitialized();
  ClassFactory::UpdateRegistryAll(TRUE);
  return S_OK;  // registration failures are not reported
}

}  // namespace fw
