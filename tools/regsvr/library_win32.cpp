// Windows side of library.h: LoadLibrary, GetProcAddress and FreeLibrary.
#include <windows.h>

#include "tools/regsvr/library.h"

namespace regsvr {

Library::Library(const std::string& path) {
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr)
    error_ = "cannot load the library (error " + std::to_string(GetLastError()) + ")";
}

Library::~Library() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Library::Export(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace regsvr
