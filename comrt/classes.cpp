// Class lookup: ProgIDs and CLSIDs in HKEY_CLASSES_ROOT, loading in-process
// servers and unloading them when they say they may go.
#include <dlfcn.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "comrt/internal.h"

namespace comrt {
namespace {

struct Library {
  std::string path;
  void* handle;
  LPFNGETCLASSOBJECT getClassObject;
  LPFNCANUNLOADNOW canUnloadNow;  // null: the library stays loaded
};

// Held while a library is looked up, entered or unloaded, so that no library
// is closed while a call into it is under way. Recursive: a server may create
// other objects from inside DllGetClassObject.
std::recursive_mutex g_librariesLock;
std::vector<Library> g_libraries;

std::atomic<LONG> g_initCount{0};
thread_local LONG t_initCount = 0;

// Maps a registry read failure to the class-lookup result.
HRESULT LookupFailure(LONG rc, HRESULT notFound) {
  return rc == ERROR_BADDB || rc == ERROR_CANTREAD ? REGDB_E_READREGDB : notFound;
}

bool ToUtf8(LPCOLESTR text, std::string& out) {
  return Utf16ToUtf8(std::u16string_view(text, OleStrLen(text)), out, true);
}

LPOLESTR DupOleString(const std::string& utf8) {
  std::u16string wide;
  Utf8ToUtf16(utf8, wide, false);
  auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
  if (out == nullptr) return nullptr;
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
  return out;
}

// Loads (or finds loaded) the library at `path`. Call with the lock held.
HRESULT LoadLibrary(const std::string& path, Library*& lib) {
  for (Library& l : g_libraries)
    if (l.path == path) {
      lib = &l;
      return S_OK;
    }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return CO_E_DLLNOTFOUND;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  if (get == nullptr) {
    dlclose(handle);
    return CO_E_ERRORINDLL;
  }
  auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
  g_libraries.push_back(Library{path, handle, get, canUnload});
  lib = &g_libraries.back();
  return S_OK;
}

}  // namespace

void FreeUnusedLibraries() {
  std::lock_guard<std::recursive_mutex> guard(g_librariesLock);
  for (size_t i = 0; i < g_libraries.size();) {
    Library& l = g_libraries[i];
    if (l.canUnloadNow != nullptr && l.canUnloadNow() == S_OK) {
      dlclose(l.handle);
      g_libraries.erase(g_libraries.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

}  // namespace comrt

// Initialisation is counted per thread (S_OK the first time on a thread,
// S_FALSE after) and process-wide: class lookup works while any thread has
// the runtime initialised. The apartment model is not enforced; objects
// are called on whatever thread calls them.
COMRT_API HRESULT CoInitializeEx(LPVOID reserved, DWORD flags) {
  if (reserved != nullptr) return E_INVALIDARG;
  comrt::g_initCount.fetch_add(1);
  return comrt::t_initCount++ == 0 ? S_OK : S_FALSE;
}

COMRT_API HRESULT CoInitialize(LPVOID reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

// The last CoUninitialize of the process unloads the libraries that agree
// to go. A library still in use stays loaded: unloading it under live
// objects would leave their code unmapped.
COMRT_API void CoUninitialize(void) {
  if (comrt::t_initCount == 0) return;  // unbalanced call: ignored
  --comrt::t_initCount;
  if (comrt::g_initCount.fetch_sub(1) == 1) comrt::FreeUnusedLibraries();
}

COMRT_API HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
  std::string name;
  if (!comrt::ToUtf8(progId, name) || name.empty() || name.find('\\') != std::string::npos)
    return CO_E_CLASSSTRING;
  std::string text;
  const LONG rc = comrt::ReadClassesValue(name + "\\CLSID", text);
  if (rc != ERROR_SUCCESS) return comrt::LookupFailure(rc, CO_E_CLASSSTRING);
  std::u16string wide;
  comrt::Utf8ToUtf16(text, wide, false);
  if (!comrt::ParseGuid(wide, *clsid)) return CO_E_CLASSSTRING;
  return S_OK;
}

COMRT_API HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
  if (progId == nullptr) return E_INVALIDARG;
  *progId = nullptr;
  std::string name;
  const LONG rc = comrt::ReadClassesValue("CLSID\\" + comrt::FormatGuid(clsid) + "\\ProgID", name);
  if (rc != ERROR_SUCCESS) return comrt::LookupFailure(rc, REGDB_E_CLASSNOTREG);
  if (name.empty()) return REGDB_E_CLASSNOTREG;
  *progId = comrt::DupOleString(name);
  return *progId == nullptr ? E_OUTOFMEMORY : S_OK;
}

COMRT_API HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID serverInfo, REFIID riid,
                                   LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  if (comrt::g_initCount.load() <= 0) return CO_E_NOTINITIALIZED;
  // Only in-process servers exist here.
  if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  std::string path;
  const LONG rc =
      comrt::ReadClassesValue("CLSID\\" + comrt::FormatGuid(clsid) + "\\InprocServer32", path);
  if (rc != ERROR_SUCCESS) return comrt::LookupFailure(rc, REGDB_E_CLASSNOTREG);
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  std::lock_guard<std::recursive_mutex> guard(comrt::g_librariesLock);
  comrt::Library* lib = nullptr;
  const HRESULT hr = comrt::LoadLibrary(path, lib);
  if (FAILED(hr)) return hr;
  return lib->getClassObject(clsid, riid, ppv);
}

COMRT_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                                   LPVOID* ppv) {
  if (ppv == nullptr) return E_INVALIDARG;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory,
                                reinterpret_cast<LPVOID*>(&factory));
  if (FAILED(hr)) return hr;
  if (factory == nullptr) return E_UNEXPECTED;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

COMRT_API void CoFreeUnusedLibraries(void) {
  comrt::FreeUnusedLibraries();
}
