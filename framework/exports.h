// The three exports of a component library: DllGetClassObject,
// DllCanUnloadNow and DllRegisterServer, with C linkage and default
// visibility on POSIX. On Windows the library's .def file exports them by
// their plain names.
#ifndef FRAMEWORK_EXPORTS_H
#define FRAMEWORK_EXPORTS_H

#include <tarnholm/com.h>

#include "framework/class_factory.h"

#ifdef _WIN32
#define FW_EXPORT_API extern "C" HRESULT STDAPICALLTYPE
#else
#define FW_EXPORT_API extern "C" __attribute__((visibility("default"))) HRESULT
#endif

// Defines the three exports on the framework's implementations.
#define FW_DEFINE_COMPONENT_EXPORTS()                                        \
  FW_EXPORT_API DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* ppv) { \
    return fw::DllGetClassObjectImpl(clsid, iid, ppv);                       \
  }                                                                          \
  FW_EXPORT_API DllCanUnloadNow() {                                          \
    return fw::DllCanUnloadNowImpl();                                        \
  }                                                                          \
  FW_EXPORT_API DllRegisterServer() {                                        \
    return fw::DllRegisterServerImpl();                                      \
  }

#endif  // FRAMEWORK_EXPORTS_H
