// Class factories and the three exports of a component library.
//
// Each class a library offers has one static ClassFactory naming its CLSID,
// its ProgID and a creation function. The library's application object
// enables them (ClassFactory::RegisterAll) in InitInstance; the exports
// then delegate to the functions below:
//
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, LPVOID* p)
//       { return fw::DllGetClassObjectImpl(c, i, p); }
//   STDAPI DllCanUnloadNow() { return fw::DllCanUnloadNowImpl(); }
//   STDAPI DllRegisterServer() { return fw::DllRegisterServerImpl(); }
#ifndef FRAMEWORK_CLASS_FACTORY_H
#define FRAMEWORK_CLASS_FACTORY_H

#include <tarnholm/com.h>

#include <atomic>

#include "framework/cmd_target.h"

namespace fw {

class ClassFactory : public IClassFactory {
 public:
  // Creates a new object with one reference (the factory queries it and
  // releases that reference). May throw std::bad_alloc.
  using CreateFn = CCmdTarget* (*)();

  ClassFactory(const CLSID& clsid, const char* progId, CreateFn create);
  ~ClassFactory();
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  // Enables every factory of the library for creation.
  static void RegisterAll();
  // Finds an enabled factory by CLSID.
  static ClassFactory* Find(REFCLSID clsid);
  // Writes the registration of every factory, in the order they were
  // constructed, stopping at the first that fails. Returns FALSE then.
  static BOOL UpdateRegistryAll(BOOL registerClasses);
  // TRUE while some factory is referenced from outside.
  static BOOL AnyInUse();

  // Writes the five keys of this class:
  //   ProgID = ProgID; ProgID\CLSID = {clsid}; CLSID\{clsid} = ProgID;
  //   CLSID\{clsid}\ProgID = ProgID; CLSID\{clsid}\InProcServer32 = library path.
  BOOL UpdateRegistry() const;

  const CLSID& Clsid() const { return clsid_; }
  const char* ProgId() const { return progId_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  CLSID clsid_;
  const char* progId_;
  CreateFn create_;
  bool enabled_ = false;
  std::atomic<ULONG> refs_{0};
  ClassFactory* next_ = nullptr;
};

HRESULT DllGetClassObjectImpl(REFCLSID clsid, REFIID iid, LPVOID* ppv);
HRESULT DllCanUnloadNowImpl();
HRESULT DllRegisterServerImpl();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
void FormatGuid(const GUID& guid, char (&text)[39]);

}  // namespace fw

#endif  // FRAMEWORK_CLASS_FACTORY_H
