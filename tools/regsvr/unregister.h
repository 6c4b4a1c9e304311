// Unregistration without the library's help: every class whose
// InprocServer32 names the library is removed from the registry in use,
// with the ProgID keys that point at it. It works for any component
// library, also one whose file is already gone, and leaves other classes
// alone.
#ifndef TOOLS_REGSVR_UNREGISTER_H
#define TOOLS_REGSVR_UNREGISTER_H

#include <comrt/comrt.h>

#include <string>

namespace regsvr {

// Removes the classes of `library` (an absolute path). `removed` counts
// them. Returns ERROR_SUCCESS (also when there was nothing to remove) or
// the registry's error.
LONG UnregisterLibrary(const std::string& library, int& removed);

}  // namespace regsvr

#endif  // TOOLS_REGSVR_UNREGISTER_H
