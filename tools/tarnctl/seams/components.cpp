#include "components.h"

#include <cstdlib>
#include <cstring>

#include "errors.h"
#include "platform.h"
#include "settings.h"
#include "tarnctl_paths.h"
#include "tools/regsvr/register_server.h"

namespace tarnctl {
namespace {

// Which library serves which ProgID.
const char* LibraryOf(const char* progId) {
  return std::strcmp(progId, TARN_PROGID_DOWNLOAD) == 0 ? "tarn" : "holm";
}

std::basic_string<OLECHAR> Wide(const char* ascii) {
  std::basic_string<OLECHAR> w;
  for (const char* p = ascii; *p; ++p) w.push_back(static_cast<OLECHAR>(*p));
  return w;
}

void SplitInto(const std::string& list, char sep, std::vector<std::string>* out) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(sep, start);
    if (end == std::string::npos) end = list.size();
    if (end > start) out->push_back(list.substr(start, end - start));
    start = end + 1;
  }
}

std::string FindLibrary(const std::string& base) {
  for (const std::string& dir : ComponentSearchPath())
    for (const std::string& name : platform::LibraryFileNames(base))
      if (platform::FileExists(dir + "/" + name)) return dir + "/" + name;
  return {};
}

// Loads the library and calls its DllRegisterServer. False with a reason
// when the library or its export is missing or registration failed.
bool RegisterOne(const std::string& path, std::string* why) {
  const regsvr::Registration r = regsvr::CallRegisterServer(path);
  if (r.outcome == regsvr::Registration::kNotLoaded) *why = r.loaderError;
  if (r.outcome == regsvr::Registration::kNoExport) *why = "the library has no DllRegisterServer";
  if (r.outcome == regsvr::Registration::kFailed)
    *why = "DllRegisterServer returned " + HexResult(r.result);
  return r.outcome == regsvr::Registration::kRegistered;
}

HRESULT TryCreate(const char* progId, REFIID iid, IUnknown** out) {
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(Wide(progId).c_str(), &clsid);
  if (FAILED(hr)) return hr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(out));
}

// Results that a (re)registration can cure.
bool RegistrationMayHelp(HRESULT hr) {
  return hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_KEYMISSING ||
         hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL;
}

}  // namespace

Runtime::Runtime() {
  CoInitialize(nullptr);
}
Runtime::~Runtime() {
  CoUninitialize();
}

std::vector<std::string> ComponentSearchPath() {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("TARNCTL_COMPONENT_PATH"))
    SplitInto(env, platform::PathListSeparator(), &dirs);
  std::string exe = platform::ExecutableDir();
  if (!exe.empty()) {
    dirs.push_back(exe);
    dirs.push_back(exe + "/../lib");
  }
  SplitInto(TARNCTL_INSTALL_LIBDIR, ';', &dirs);
  SplitInto(TARNCTL_BUILD_LIBDIRS, ';', &dirs);
  return dirs;
}

std::vector<std::string> RegisterComponents(const std::vector<std::string>& libraries) {
  // DllRegisterServer answers S_OK even when its writes were refused: a
  // registry that cannot take them is reported first.
  if (const std::string problem = RegistryAdvice(""); !problem.empty())
    throw Error(kExitComponents, "cannot register the components: " + problem);
  std::vector<std::string> paths = libraries;
  if (paths.empty()) {
    for (const char* base : {"tarn", "holm"}) {
      std::string p = FindLibrary(base);
      if (p.empty())
        throw Error(kExitComponents,
                    "component library " + platform::LibraryFileNames(base).front() + " not found",
                    "build the project, or set TARNCTL_COMPONENT_PATH to the folder that holds it");
      paths.push_back(p);
    }
  }
  for (const std::string& p : paths) {
    std::string why;
    if (!RegisterOne(p, &why))
      throw Error(kExitComponents, "cannot register " + p + ": " + why,
                  "check the library file; on Windows run as administrator or use regsvr32");
  }
  return paths;
}

IUnknown* CreateByProgId(const char* progId, REFIID iid) {
  IUnknown* object = nullptr;
  HRESULT hr = TryCreate(progId, iid, &object);
  if (RegistrationMayHelp(hr)) {
    std::string path = FindLibrary(LibraryOf(progId));
    std::string why =
        "library " + platform::LibraryFileNames(LibraryOf(progId)).front() + " not found";
    if (!path.empty() && RegisterOne(path, &why)) {
      hr = TryCreate(progId, iid, &object);
      why = "registering " + path + " did not make it available";
    }
    if (FAILED(hr))
      throw Error(kExitComponents,
                  std::string("cannot create \"") + progId + "\" (" + HexResult(hr) + "): " + why,
                  RegistryAdvice("run `tarnctl register LIBRARY`, or set TARNCTL_COMPONENT_PATH "
                                 "to the folder of the component libraries",
                                 true));
  }
  if (FAILED(hr) || !object)
    throw Error(kExitComponents,
                std::string("cannot create \"") + progId + "\" (" + HexResult(hr) + ")",
                RegistryAdvice(hr == REGDB_E_READREGDB
                                   ? "the runtime's registry file is unreadable or damaged "
                                     "(COMRT_REGISTRY or ~/.config/comrt/registry)"
                                   : "check the component registration (`tarnctl register`)",
                               true));
  return object;
}

}  // namespace tarnctl
