// What the installer check asks Windows about the installed components.
//   win_probe classes         creates every class by ProgID, then by CLSID;
//                             one line each: "PROGID: ok" or the failure
//                             ("class not registered", "no such ProgID",
//                             or the HRESULT)
//   win_probe version DLL     prints the DLL's version resource: file
//                             description, product name, file and product
//                             version, and the fixed file version
// Exit status: 0 when every class was created (classes) or the resource
// was read (version), else 1.
#include <tarnholm/interfaces.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Class {
  const wchar_t* progId;
  const CLSID* clsid;
};

const char* Reason(HRESULT hr) {
  if (hr == REGDB_E_CLASSNOTREG) return "class not registered";
  if (hr == CO_E_CLASSSTRING) return "no such ProgID";
  static char text[32];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

int Classes() {
  const Class classes[] = {{L"BRENTAR.TARN", &CLSID_Download},
                           {L"Brenlow.S19SUPPORT", &CLSID_S19Support},
                           {L"Brenlow.PROGRESSER", &CLSID_Progress},
                           {L"Brenlow.HCPORTSETTINGS", &CLSID_HC_PortSettings},
                           {L"Brenlow.HCONLYPORT", &CLSID_HC_OnlyPort},
                           {L"Brenlow.HCBAUDPORT", &CLSID_HC_OnlyBaudPort}};
  int failures = 0;
  for (const Class& c : classes) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(c.progId, &clsid);
    IUnknown* object = nullptr;
    if (SUCCEEDED(hr))
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(&object));
    // By CLSID too: after uninstalling, the class itself must be gone.
    IUnknown* byClsid = nullptr;
    const HRESULT hr2 = CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&byClsid));
    std::printf("%ls: %s; by CLSID: %s\n", c.progId, SUCCEEDED(hr) ? "ok" : Reason(hr),
                SUCCEEDED(hr2) ? "ok" : Reason(hr2));
    if (object != nullptr) object->Release();
    if (byClsid != nullptr) byClsid->Release();
    if (FAILED(hr) || FAILED(hr2)) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

int Version(const wchar_t* dll) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(dll, &ignored);
  if (size == 0) {
    std::printf("no version resource in %ls\n", dll);
    return 1;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoW(dll, 0, size, data.data())) return 1;
  const wchar_t* keys[] = {L"FileDescription", L"ProductName", L"FileVersion", L"ProductVersion"};
  for (const wchar_t* key : keys) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
      std::printf("%ls: %ls\n", key, value);
    else
      std::printf("%ls: (missing)\n", key);
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length))
    std::printf("Fixed: %u.%u.%u\n", static_cast<unsigned>(HIWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(fixed->dwFileVersionMS)),
                static_cast<unsigned>(HIWORD(fixed->dwFileVersionLS)));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"classes") == 0) {
    if (FAILED(CoInitialize(nullptr))) return 1;
    const int rc = Classes();
    CoUninitialize();
    return rc;
  }
  if (argc == 3 && wcscmp(argv[1], L"version") == 0) return Version(argv[2]);
  std::printf("usage: win_probe classes | win_probe version DLL\n");
  return 1;
}
