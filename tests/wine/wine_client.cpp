// Uses every component through Windows COM, as a Windows client does.
// Prints one line per check and exits with the number of failed checks.
//   wine_client PORT IMAGEFILE   (PORT e.g. COM1, served by a simulated pager)
// Besides the early-bound calls through the interfaces it has a late-bound
// part, as Visual Basic and script clients call automation objects: every
// method found by name and called through IDispatch::Invoke.
#include <tarnholm/interfaces.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

template <class T>
T* Create(const wchar_t* progId, REFIID iid) {
  CLSID clsid;
  if (CLSIDFromProgID(progId, &clsid) != S_OK) return nullptr;
  void* p = nullptr;
  if (CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p) != S_OK) return nullptr;
  return static_cast<T*>(p);
}

void Download(const char* port) {
  auto* error = Create<IDownloadError>(L"BRENTAR.TARN", IID_IDownloadError);
  Check(error != nullptr, "BRENTAR.TARN created by ProgID");
  if (error == nullptr) return;
  IDownloadState* state = nullptr;
  IDownloadTransfer* transfer = nullptr;
  IPagerCommands* commands = nullptr;
  error->QueryInterface(IID_IDownloadState, reinterpret_cast<void**>(&state));
  error->QueryInterface(IID_IDownloadTransfer, reinterpret_cast<void**>(&transfer));
  error->QueryInterface(IID_IPagerCommands, reinterpret_cast<void**>(&commands));
  LONG code = 0;
  error->GetErrorCode(&code);
  Check(code == 1, "a new download object reports code 1");

  char settings[64];
  std::snprintf(settings, sizeof settings, "device = %s baud = 9600", port);
  LONG result = -1;
  state->SetPortSettings(&result, settings);
  Check(result == S_OK, "port settings accepted");
  HRESULT hr = transfer->Identify();
  const char* text = "";
  error->GetErrorText(&text);
  std::printf("     identify: 0x%08lX %s\n", static_cast<unsigned long>(hr), text);
  Check(hr == S_OK, "pager identified over the COM port");
  BYTE type = 0;
  state->GetPagerType(&type);
  Check(type == 0x8B, "pager type 0x8B");

  BYTE data[24];
  for (int i = 0; i < 24; ++i) data[i] = static_cast<BYTE>(0x11 * i);
  transfer->WriteMemory(&result, 0x2000, data, 24);
  Check(result == S_OK, "24 bytes written");
  BYTE back[24] = {};
  transfer->ReadMemory(&result, 0x2000, back, 24);
  Check(result == S_OK && std::memcmp(back, data, 24) == 0, "24 bytes read back intact");

  Check(commands->BeginCommands() == S_OK, "command mode entered");
  commands->SendCommandAE(&result, 0x123456, 0xABCD);
  Check(result == S_OK, "command 0xAE acknowledged");
  Check(commands->EndCommands() == S_OK, "command mode left");

  commands->Release();
  transfer->Release();
  state->Release();
  error->Release();
}

void S19(const char* file) {
  auto* s19 = Create<IS19File>(L"Brenlow.S19SUPPORT", IID_IS19File);
  Check(s19 != nullptr, "Brenlow.S19SUPPORT created by ProgID");
  if (s19 == nullptr) return;
  wchar_t wide[260];
  MultiByteToWideChar(CP_ACP, 0, file, -1, wide, 260);
  BYTE header[2] = {'H', 'I'};
  BYTE data[20];
  for (int i = 0; i < 20; ++i) data[i] = static_cast<BYTE>(i);
  HRESULT hr = s19->WriteImageFile(SysAllocString(wide), SysAllocString(L"pager image"), 0x100,
                                   header, 2, data, 20);
  Check(hr == S_OK, "S19 file written");
  IS19FileEx* ex = nullptr;
  s19->QueryInterface(IID_IS19FileEx, reinterpret_cast<void**>(&ex));
  BSTR text = nullptr;
  BYTE h[2] = {}, d[20] = {};
  S19ImageDesc desc{&text, 0x100, h, 2, d, 20};
  S19FileInfo info{};
  hr = ex->ReadImageFileEx(SysAllocString(wide), &desc, &info);
  Check(hr == S_OK && info.HasData && info.EndGood && std::memcmp(d, data, 20) == 0 &&
            h[0] == 'H' && info.ChecksumErrors == 0,
        "S19 file read back with the same bytes");
  Check(text != nullptr && std::wcscmp(text, L"pager image\n") == 0, "S19 text read back");
  SysFreeString(text);
  ex->Release();
  s19->Release();
}

void Progress() {
  auto* progress = Create<IProgressIndicator>(L"Brenlow.PROGRESSER", IID_IProgressIndicator);
  Check(progress != nullptr, "Brenlow.PROGRESSER created by ProgID");
  if (progress == nullptr) return;
  bool ok =
      progress->AddStep(10, SysAllocString(L"Writing"), SysAllocString(L"Download")) == S_OK &&
      progress->Show() == S_OK && progress->SetProgressPercent(50) == S_OK &&
      progress->NextStep() == S_OK && progress->Hide() == S_OK;
  Check(ok, "progress steps driven");
  progress->Release();
}

void Dialogs() {
  const wchar_t* progIds[] = {L"Brenlow.HCPORTSETTINGS", L"Brenlow.HCONLYPORT",
                              L"Brenlow.HCBAUDPORT"};
  for (const wchar_t* progId : progIds) {
    auto* dispatch = Create<IDispatch>(progId, IID_IDispatch);
    Check(dispatch != nullptr, "settings dialog created by ProgID");
    if (dispatch == nullptr) continue;
    LPOLESTR name = const_cast<LPOLESTR>(L"Change");
    DISPID id = 0;
    Check(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id) == S_OK && id == 1,
          "Change is dispatch identifier 1");
    dispatch->Release();
  }
}

// Calls the method NAME of an automation object by name, with ARGS in the
// order of the method's parameters.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::initializer_list<VARIANT> args) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANT reversed[4];
  UINT count = 0;
  for (const VARIANT& v : args) reversed[args.size() - 1 - count++] = v;
  DISPPARAMS params{count != 0 ? reversed : nullptr, nullptr, count, 0};
  UINT argErr = 0;
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                        nullptr, &argErr);
}

VARIANT Long(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

// A string argument that the variant owns; the caller clears it.
VARIANT Text(const wchar_t* text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(text);
  return v;
}

// A download of 300 bytes with a progress object that the client drives
// by name. The download object has no automation interface: it is driven
// through its own interfaces, and advances the attached progress object.
void LateBound(const char* port) {
  auto* progress = Create<IDispatch>(L"Brenlow.PROGRESSER", IID_IDispatch);
  auto* error = Create<IDownloadError>(L"BRENTAR.TARN", IID_IDownloadError);
  Check(progress != nullptr && error != nullptr, "late bound: both objects created by ProgID");
  if (progress == nullptr || error == nullptr) return;
  IDispatch* none = nullptr;
  Check(error->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&none)) == E_NOINTERFACE &&
            none == nullptr,
        "late bound: the download object has no automation interface");
  VARIANT text = Text(L"Writing"), caption = Text(L"Download");
  Check(CallByName(progress, L"AddStep", {Long(100), text, caption}) == S_OK &&
            CallByName(progress, L"Show", {}) == S_OK,
        "late bound: AddStep and Show by name");
  VariantClear(&text);
  VariantClear(&caption);
  Check(CallByName(progress, L"NoSuchMethod", {}) == DISP_E_UNKNOWNNAME &&
            CallByName(progress, L"SetProgressPercent", {}) == DISP_E_BADPARAMCOUNT,
        "late bound: an unknown name and a missing argument are refused");

  IProgressIndicator* indicator = nullptr;
  IDownloadState* state = nullptr;
  IDownloadTransfer* transfer = nullptr;
  progress->QueryInterface(IID_IProgressIndicator, reinterpret_cast<void**>(&indicator));
  error->QueryInterface(IID_IDownloadState, reinterpret_cast<void**>(&state));
  error->QueryInterface(IID_IDownloadTransfer, reinterpret_cast<void**>(&transfer));
  char settings[64];
  std::snprintf(settings, sizeof settings, "device = %s baud = 9600", port);
  LONG result = -1;
  state->SetPortSettings(&result, settings);
  state->AttachProgress(indicator);
  BYTE data[300], back[300] = {};
  for (int i = 0; i < 300; ++i) data[i] = static_cast<BYTE>(i * 7 + 3);
  LONG wrote = -1, read = -1;
  transfer->WriteMemory(&wrote, 0x3000, data, 300);
  transfer->ReadMemory(&read, 0x3000, back, 300);
  Check(result == S_OK && wrote == S_OK && read == S_OK && std::memcmp(back, data, 300) == 0,
        "late bound: 300 bytes written with progress and read back intact");
  Check(CallByName(progress, L"SetProgressPercent", {Long(100)}) == S_OK &&
            CallByName(progress, L"NextStep", {}) == S_OK &&
            CallByName(progress, L"Hide", {}) == S_OK,
        "late bound: the progress object finished by name");
  state->AttachProgress(nullptr);
  transfer->Release();
  state->Release();
  indicator->Release();
  error->Release();
  progress->Release();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wine_client PORT IMAGEFILE\n");
    return 100;
  }
  if (FAILED(CoInitialize(nullptr))) return 101;
  S19(argv[2]);
  Progress();
  Dialogs();
  Download(argv[1]);
  LateBound(argv[1]);
  CoUninitialize();
  std::printf("%d failed\n", g_failures);
  return g_failures;
}
