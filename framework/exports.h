// What every component library defines once: its application object and
// the three exports DllGetClassObject, DllCanUnloadNow and
// DllRegisterServer, with C linkage and default visibility on POSIX. On
// Windows the library's .def file exports them by their plain names.
#ifndef FRAMEWORK_EXPORTS_H
#define FRAMEWORK_EXPORTS_H

#include <tarnholm/com.h>

#include "framework/class_factory.h"
#include "framework/module.h"

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

// Defines the library's application object and its exports: the class App
// (derived from fw::CWinApp, one static instance), whose InitInstance
// enables every class factory of the library for creation, and the three
// exports. Used once per library, at global scope and before the library's
// class factory table: the application object is then constructed first
// and destroyed last.
#define FW_DEFINE_COMPONENT_LIBRARY(App) \
  namespace {                            \
  class App : public fw::CWinApp {       \
   public:                               \
    BOOL InitInstance() override {       \
      fw::ClassFactory::RegisterAll();   \
      return TRUE;                       \
    }                                    \
  };                                     \
  App theApp;                            \
  }                                      \
  FW_DEFINE_COMPONENT_EXPORTS()

#endif  // FRAMEWORK_EXPORTS_H
