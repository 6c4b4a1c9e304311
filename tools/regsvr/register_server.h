// Registration of a component library by its own code: the library is
// loaded, its DllRegisterServer export is called and the library is
// unloaded again. Shared by regsvr and `tarnctl register`, which word the
// outcome each in their own way.
#ifndef TOOLS_REGSVR_REGISTER_SERVER_H
#define TOOLS_REGSVR_REGISTER_SERVER_H

#include <tarnholm/com.h>

#include <string>

namespace regsvr {

struct Registration {
  enum Outcome {
    kRegistered,  // DllRegisterServer returned a success code
    kNotLoaded,   // the library is missing or cannot be loaded
    kNoExport,    // the library has no DllRegisterServer export
    kFailed,      // DllRegisterServer returned a failure code
  };
  Outcome outcome = kNotLoaded;
  // kNotLoaded: why the loader refused, in the system's words (never
  // empty).
  std::string loaderError;
  // What DllRegisterServer returned (kRegistered, kFailed).
  HRESULT result = S_OK;
};

// Loads the library at `path` (see Library) and calls its
// DllRegisterServer.
Registration CallRegisterServer(const std::string& path);

}  // namespace regsvr

#endif  // TOOLS_REGSVR_REGISTER_SERVER_H
