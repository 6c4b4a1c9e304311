// regsvr: registers a component library with the component runtime by
// calling its DllRegisterServer export, or unregisters it (-u: every class
// whose InprocServer32 names the library is removed with its ProgID, so a
// library that is already gone can be unregistered too).
//
//   regsvr [-s] [-u] [--system] LIBRARY
//
// The library is loaded by its absolute path (symbolic links resolved), so
// the path it registers works from any directory. Without --system the
// entries go to the user's registry file; with it to the machine's, which
// every user reads after their own (the administrator's job: the folder is
// created readable for all, the file is written readable for all). A
// registry file that cannot be read, is damaged, or that someone other than
// this user or root could change (root run with a user's environment) is
// reported with what to do, and left as it is. Exit status: 0 done, 1
// usage, 2 library not found or not loadable, 3 no DllRegisterServer
// export, 4 DllRegisterServer or the unregistration failed, 5 the registry
// cannot be used or not be written by this user.
#include <comrt/comrt.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "th_version.h"
#include "tools/regsvr/register_server.h"
#include "tools/regsvr/unregister.h"

namespace {

enum Exit { kOk = 0, kUsage = 1, kNotLoaded = 2, kNoExport = 3, kFailed = 4, kBadRegistry = 5 };

struct Options {
  bool silent = false;
  bool unregister = false;
  bool system = false;
  const char* library = nullptr;
};

std::string RegistryPath() {
  char path[PATH_MAX];
  const size_t n = comrt_RegistryPath(path, sizeof path);
  return n < sizeof path ? std::string(path) : std::string("(path too long)");
}

// What keeps the registry file in use (the machine's under --system) from
// being used, or empty.
std::string RegistryProblem() {
  char text[8192];
  const size_t n = comrt_RegistryProblem(FALSE, text, sizeof text);
  return n < sizeof text ? std::string(text, n)
                         : "the registry file " + RegistryPath() + " cannot be used";
}

int Usage(FILE* out, int code) {
  std::fprintf(out,
               "usage: regsvr [-s] [-u] [--system] LIBRARY\n"
               "Registers the component library LIBRARY by calling its DllRegisterServer.\n"
               "  -s         print nothing on success\n"
               "  -u         unregister: remove the classes registered for LIBRARY\n"
               "  --system   use the machine's registry, which every user reads\n"
               "  --version  print the version\n"
               "  -h, --help print this help\n");
  return code;
}

// Parses the arguments; returns -1 to go on, else the exit status.
int Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-s") == 0) {
      o.silent = true;
    } else if (std::strcmp(a, "-u") == 0) {
      o.unregister = true;
    } else if (std::strcmp(a, "--system") == 0) {
      o.system = true;
    } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      return Usage(stdout, kOk);
    } else if (std::strcmp(a, "--version") == 0) {
      std::printf("regsvr %s\n", kTarnHolmVersion);
      return kOk;
    } else if (a[0] == '-' || o.library != nullptr) {
      return Usage(stderr, kUsage);
    } else {
      o.library = a;
    }
  }
  return o.library == nullptr ? Usage(stderr, kUsage) : -1;
}

// Points this process's registry at the machine's file; its folder is
// made readable for every user.
bool SelectMachineRegistry() {
  char path[PATH_MAX];
  const size_t n = comrt_MachineRegistryPath(path, sizeof path);
  if (n >= sizeof path || n == 0) {
    std::fprintf(stderr, "regsvr: no machine registry (COMRT_MACHINE_REGISTRY is empty)\n");
    return false;
  }
  const std::string file(path);
  // Every missing folder on the way, readable for all (whatever the umask).
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1)) {
    const std::string dir = file.substr(0, slash);
    if (mkdir(dir.c_str(), 0755) == 0) chmod(dir.c_str(), 0755);
  }
  setenv("COMRT_REGISTRY", path, 1);
  return true;
}

// A library's DllRegisterServer may report success although its writes
// failed, so regsvr checks first that it may replace the registry file:
// the first folder on its path that exists must be writable, and the file
// too when it exists.
bool MayWrite(const std::string& file) {
  if (access(file.c_str(), F_OK) == 0 && access(file.c_str(), W_OK) != 0) return false;
  std::string dir = file;
  for (;;) {
    const size_t slash = dir.rfind('/');
    if (slash == std::string::npos) return access(".", W_OK) == 0;
    dir = slash == 0 ? "/" : dir.substr(0, slash);
    if (access(dir.c_str(), F_OK) == 0) return access(dir.c_str(), W_OK) == 0;
  }
}

int Register(const char* absolute, const Options& o) {
  const regsvr::Registration r = regsvr::CallRegisterServer(absolute);
  switch (r.outcome) {
    case regsvr::Registration::kNotLoaded:
      std::fprintf(stderr, "regsvr: cannot load %s: %s\n", absolute, r.loaderError.c_str());
      return kNotLoaded;
    case regsvr::Registration::kNoExport:
      std::fprintf(stderr,
                   "regsvr: %s has no DllRegisterServer export; it is not a component library\n",
                   absolute);
      return kNoExport;
    case regsvr::Registration::kFailed:
      std::fprintf(stderr, "regsvr: DllRegisterServer in %s failed (0x%08X)\n", absolute,
                   static_cast<unsigned>(r.result));
      return kFailed;
    case regsvr::Registration::kRegistered:
      break;
  }
  if (!o.silent)
    std::printf("regsvr: DllRegisterServer in %s succeeded (registry %s)\n", absolute,
                RegistryPath().c_str());
  return kOk;
}

int Unregister(const char* absolute, const Options& o) {
  int removed = 0;
  const LONG rc = regsvr::UnregisterLibrary(absolute, removed);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "regsvr: unregistering %s failed (registry %s, error %ld)\n", absolute,
                 RegistryPath().c_str(), static_cast<long>(rc));
    return rc == ERROR_BADDB || rc == ERROR_CANTREAD || rc == ERROR_ACCESS_DENIED ? kBadRegistry
                                                                                  : kFailed;
  }
  if (!o.silent)
    std::printf("regsvr: %d class(es) of %s unregistered (registry %s)\n", removed, absolute,
                RegistryPath().c_str());
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int done = Parse(argc, argv, o); done >= 0) return done;
  if (o.system && !SelectMachineRegistry()) return kUsage;

  // Unregistration works on the user's own file unless --system: the
  // machine's classes are not the user's to remove.
  if (o.unregister && !o.system) setenv("COMRT_MACHINE_REGISTRY", "", 1);

  char absolute[PATH_MAX];
  if (realpath(o.library, absolute) == nullptr) {
    // A library that is gone can still be unregistered by its full path.
    if (!o.unregister || o.library[0] != '/' || std::strlen(o.library) >= sizeof absolute) {
      std::fprintf(stderr, "regsvr: %s: %s\n", o.library, std::strerror(errno));
      return kNotLoaded;
    }
    std::strcpy(absolute, o.library);
  }

  // A registry file that cannot be used would make every registration write
  // fail while DllRegisterServer still reports success: check first.
  if (const std::string problem = RegistryProblem(); !problem.empty()) {
    std::fprintf(stderr, "regsvr: %s\n", problem.c_str());
    return kBadRegistry;
  }
  if (!MayWrite(RegistryPath())) {
    std::fprintf(stderr, "regsvr: you may not change the registry file %s%s\n",
                 RegistryPath().c_str(), o.system ? " (the machine's: run as root)" : "");
    return kBadRegistry;
  }
  return o.unregister ? Unregister(absolute, o) : Register(absolute, o);
}
