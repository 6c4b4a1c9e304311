// Opens Holm's windows the way a Windows client does, for a driver that
// presses keys in them and takes pictures (tests/wine/dialogs.sh).
//   wine_dialogs change PROGID SETTINGS   calls Change through IDispatch on
//       a fresh object with SETTINGS as the caller's string and prints
//       "result: " and the string as it came back
//   wine_dialogs progress SECONDS         shows the progress window, moves
//       it half way through the second of two steps, prints "mid-job", waits SECONDS
//       without handling messages (as a caller busy with its operation
//       does), then finishes the job
#include <tarnholm/interfaces.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

IDispatch* Create(const char* progId) {
  wchar_t wide[64];
  MultiByteToWideChar(CP_ACP, 0, progId, -1, wide, 64);
  CLSID clsid;
  void* p = nullptr;
  if (CLSIDFromProgID(wide, &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p) != S_OK)
    return nullptr;
  return static_cast<IDispatch*>(p);
}

int Change(const char* progId, const char* settings) {
  IDispatch* dialog = Create(progId);
  if (!dialog) return 2;
  wchar_t wide[256];
  MultiByteToWideChar(CP_ACP, 0, settings, -1, wide, 256);
  BSTR text = SysAllocString(wide);
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_BSTR | VT_BYREF;
  arg.pbstrVal = &text;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  HRESULT hr = dialog->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  char narrow[256] = {};
  if (text) WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  std::printf("result: %s\n", narrow);
  SysFreeString(text);
  dialog->Release();
  return hr == S_OK ? 0 : 3;
}

int Progress(int seconds) {
  IProgressIndicator* progress = nullptr;
  CLSID clsid;
  if (CLSIDFromProgID(L"Brenlow.PROGRESSER", &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressIndicator,
                       reinterpret_cast<void**>(&progress)) != S_OK)
    return 2;
  // Erasing done, writing half way: the bar at 65 of 101.
  bool ok = progress->AddStep(30, SysAllocString(L"Erasing pager memory"),
                              SysAllocString(L"Download")) == S_OK &&
            progress->AddStep(70, SysAllocString(L"Writing pager memory"), nullptr) == S_OK &&
            progress->Show() == S_OK && progress->SetProgressPercent(100) == S_OK &&
            progress->NextStep() == S_OK && progress->SetProgressPercent(50) == S_OK;
  std::printf("mid-job\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  ok = ok && progress->NextStep() == S_OK && progress->Hide() == S_OK;
  progress->Release();
  return ok ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wine_dialogs change PROGID SETTINGS | progress SECONDS\n");
    return 100;
  }
  if (FAILED(CoInitialize(nullptr))) return 101;
  const std::string what = argv[1];
  int rc = 100;
  if (what == "change" && argc >= 4) rc = Change(argv[2], argv[3]);
  if (what == "progress") rc = Progress(std::atoi(argv[2]));
  CoUninitialize();
  return rc;
}
