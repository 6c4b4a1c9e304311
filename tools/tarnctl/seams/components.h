// Creating the components by ProgID, as any client does, and making sure
// they are registered first.
//
// Registration on first use: when a ProgID is not known to the runtime (or
// its registration points at a library that is gone), tarnctl looks for the
// component library and calls its DllRegisterServer, then tries again. It
// looks, in this order, in the folders of $TARNCTL_COMPONENT_PATH, next to
// the tarnctl executable, in ../lib beside it (an install prefix), in the
// install prefix tarnctl was built for, and in the build tree tarnctl was
// built in. `tarnctl register [LIBRARY...]` does the same on request.
// On POSIX registration writes the runtime's registry ($COMRT_REGISTRY when
// set, else the per-user file); on Windows it writes the system registry,
// which may need an administrator (or use regsvr32).
#ifndef TARNCTL_COMPONENTS_H
#define TARNCTL_COMPONENTS_H

#include <tarnholm/interfaces.h>

#include <string>
#include <vector>

#include "com_ptr.h"

namespace tarnctl {

class Runtime {
 public:
  Runtime();
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;
};

// Creates the object of progId and queries iid. Throws Error (exit 6) with
// the result and a hint when it cannot.
IUnknown* CreateByProgId(const char* progId, REFIID iid);

template <class T>
ComPtr<T> Create(const char* progId, REFIID iid) {
  ComPtr<T> p;
  *p.PutVoid() = CreateByProgId(progId, iid);
  return p;
}

// Registers the given libraries, or, with none given, the libraries found on
// the search path above. Returns the paths registered; throws Error (exit 6)
// when one fails or none is found.
std::vector<std::string> RegisterComponents(const std::vector<std::string>& libraries);

// The folders searched for component libraries, in order.
std::vector<std::string> ComponentSearchPath();

}  // namespace tarnctl

#endif  // TARNCTL_COMPONENTS_H
