// regsvr: registers a component library with the component runtime by
// calling its DllRegisterServer export.
//
//   regsvr [-s] LIBRARY
//
// The library is loaded by its absolute path (symbolic links resolved), so
// the path it registers works from any directory. Exit status: 0 done,
// 1 usage, 2 library not found or not loadable, 3 no DllRegisterServer
// export, 4 DllRegisterServer failed, 5 the registry cannot be read.
#include <comrt/comrt.h>
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum Exit { kOk = 0, kUsage = 1, kNotLoaded = 2, kNoExport = 3, kFailed = 4, kBadRegistry = 5 };

std::string RegistryPath() {
  char path[PATH_MAX];
  const size_t n = comrt_RegistryPath(path, sizeof path);
  return n < sizeof path ? std::string(path) : std::string("(path too long)");
}

int Usage() {
  std::fprintf(stderr,
               "usage: regsvr [-s] LIBRARY\n"
               "Registers the component library LIBRARY by calling its DllRegisterServer.\n"
               "  -s  print nothing on success\n");
  return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
  bool silent = false;
  const char* library = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-s") == 0) {
      silent = true;
    } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      Usage();
      return kOk;
    } else if (argv[i][0] == '-' || library != nullptr) {
      return Usage();
    } else {
      library = argv[i];
    }
  }
  if (library == nullptr) return Usage();

  char absolute[PATH_MAX];
  if (realpath(library, absolute) == nullptr) {
    std::fprintf(stderr, "regsvr: %s: %s\n", library, std::strerror(errno));
    return kNotLoaded;
  }

  // A registry file that cannot be read would make every registration write
  // fail while DllRegisterServer still reports success: check first.
  HKEY root = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, nullptr, &root) == ERROR_BADDB) {
    std::fprintf(stderr, "regsvr: the registry file %s cannot be read or is damaged\n",
                 RegistryPath().c_str());
    return kBadRegistry;
  }
  RegCloseKey(root);

  void* handle = dlopen(absolute, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    std::fprintf(stderr, "regsvr: cannot load %s: %s\n", absolute, dlerror());
    return kNotLoaded;
  }
  auto registerServer = reinterpret_cast<LPFNREGISTERSERVER>(dlsym(handle, "DllRegisterServer"));
  if (registerServer == nullptr) {
    std::fprintf(stderr,
                 "regsvr: %s has no DllRegisterServer export; it is not a component "
                 "library\n",
                 absolute);
    dlclose(handle);
    return kNoExport;
  }
  const HRESULT hr = registerServer();
  if (FAILED(hr)) {
    std::fprintf(stderr, "regsvr: DllRegisterServer in %s failed (0x%08X)\n", absolute,
                 static_cast<unsigned>(hr));
    dlclose(handle);
    return kFailed;
  }
  if (!silent)
    std::printf("regsvr: DllRegisterServer in %s succeeded (registry %s)\n", absolute,
                RegistryPath().c_str());
  dlclose(handle);
  return kOk;
}
