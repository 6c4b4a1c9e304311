// POSIX side of library.h: dlopen, dlsym and dlclose.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include "tools/regsvr/library.h"

namespace regsvr {

Library::Library(const std::string& path) {
  char resolved[PATH_MAX];
  const std::string full = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  handle_ = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    error_ = error ? error : "cannot load the library";
  }
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* Library::Export(const char* name) const {
  return dlsym(handle_, name);
}

}  // namespace regsvr
