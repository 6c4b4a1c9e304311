// A client of Tarn and Holm, in the form every client takes: it creates each
// object by its ProgID through the component runtime, asks for the
// interfaces it needs and releases what it got. The same file builds on
// Windows against COM and on Linux against comrt.
//
//   client [DEVICE]
//
// Without DEVICE it writes and reads back an S19 file and drives the progress
// indicator; with DEVICE (a port settings device such as COM1 or
// /dev/ttyUSB0) it also identifies the pager there and reads 16 bytes of its
// memory with progress. The components must be registered (regsvr on Linux,
// regsvr32 on Windows). Exit code 0 when everything worked.
#include <tarnholm/interfaces.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%-52s %s\n", what, ok ? "ok" : "FAILED");
  if (!ok) ++failures;
}

// Creates the object of a ProgID and returns the interface asked for.
template <class T>
T* Create(const OLECHAR* progId, REFIID iid) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(progId, &clsid))) return nullptr;
  void* p = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p))) return nullptr;
  return static_cast<T*>(p);
}

// S19Support: write a small image with a comment and read it back.
void S19RoundTrip() {
  IS19File* file = Create<IS19File>(OLESTR("Brenlow.S19SUPPORT"), IID_IS19File);
  Check(file != nullptr, "create Brenlow.S19SUPPORT");
  if (!file) return;
  BYTE data[40], header[4] = {'D', 'E', 'M', 'O'};
  for (int i = 0; i < 40; ++i) data[i] = static_cast<BYTE>(i * 3);
  // The object takes ownership of the file name and the text.
  HRESULT hr = file->WriteImageFile(SysAllocString(OLESTR("client-example.s19")),
                                    SysAllocString(OLESTR("written by the client example")), 0x2000,
                                    header, 4, data, 40);
  Check(hr == S_OK, "WriteImageFile client-example.s19");

  IS19FileEx* ex = nullptr;
  file->QueryInterface(IID_IS19FileEx, reinterpret_cast<void**>(&ex));
  BYTE back[40] = {}, head[8] = {};
  BSTR text = nullptr;  // receives the comment; ours to free
  S19ImageDesc desc = {&text, 0x2000, head, 8, back, 40};
  S19FileInfo info = {};
  hr = ex ? ex->ReadImageFileEx(SysAllocString(OLESTR("client-example.s19")), &desc, &info)
          : E_NOINTERFACE;
  Check(hr == S_OK && std::memcmp(back, data, 40) == 0 && info.ChecksumErrors == 0,
        "ReadImageFileEx gives the same bytes back");
  SysFreeString(text);

  IS19Error* error = nullptr;
  file->QueryInterface(IID_IS19Error, reinterpret_cast<void**>(&error));
  hr = file->ReadImageFile(SysAllocString(OLESTR("no-such-folder/none.s19")), &text, 0, head, 8,
                           back, 40);
  const char* message = nullptr;
  if (error) error->GetErrorText(&message);  // the library's own text: do not free
  Check(hr == S19_E_FILE && message != nullptr, "a missing file reports S19_E_FILE");
  if (message) std::printf("    (\"%s\")\n", message);
  if (error) error->Release();
  if (ex) ex->Release();
  file->Release();
}

// Progress: steps weighted 30 and 70, as a long job would queue them. The
// window is shown only where a screen is (a terminal on Linux).
IProgressIndicator* MakeProgress() {
  IProgressIndicator* progress =
      Create<IProgressIndicator>(OLESTR("Brenlow.PROGRESSER"), IID_IProgressIndicator);
  Check(progress != nullptr, "create Brenlow.PROGRESSER");
  if (!progress) return nullptr;
  progress->AddStep(30, SysAllocString(OLESTR("Identifying")), SysAllocString(OLESTR("Pager")));
  progress->AddStep(70, SysAllocString(OLESTR("Reading")), SysAllocString(OLESTR("")));
  return progress;
}

// CDownload on a port: identify, then read 16 bytes at 0x0100 with the
// progress indicator attached.
void UsePager(const char* device, IProgressIndicator* progress) {
  IDownloadTransfer* transfer =
      Create<IDownloadTransfer>(OLESTR("BRENTAR.TARN"), IID_IDownloadTransfer);
  Check(transfer != nullptr, "create BRENTAR.TARN");
  if (!transfer) return;
  IDownloadState* state = nullptr;
  IDownloadError* error = nullptr;
  transfer->QueryInterface(IID_IDownloadState, reinterpret_cast<void**>(&state));
  transfer->QueryInterface(IID_IDownloadError, reinterpret_cast<void**>(&error));

  std::string settings = std::string("device = ") + device + " baud = 9600";
  LONG result = E_FAIL;
  state->SetPortSettings(&result, settings.c_str());
  Check(result == S_OK, "SetPortSettings");

  if (progress) progress->Show();
  state->AttachProgress(progress);  // no reference taken: keep it alive
  HRESULT hr = transfer->Identify();
  BYTE type = 0, status = 0;
  state->GetPagerType(&type);
  state->GetStatusChar(&status);
  Check(hr == S_OK && type == 0x8B, "Identify");
  if (progress) progress->NextStep();

  BYTE memory[16] = {};
  hr = transfer->ReadMemory(&result, 0x0100, memory, sizeof memory);
  Check(hr == S_OK && result == S_OK, "ReadMemory 16 bytes at 0x0100");
  if (progress) progress->NextStep();
  state->AttachProgress(nullptr);  // detach before the indicator may go
  if (progress) progress->Hide();

  if (hr != S_OK || result != S_OK) {
    LONG code = 0;
    const char* text = nullptr;
    error->GetErrorCode(&code);
    error->GetErrorText(&text);
    std::printf("    error %ld: %s\n", static_cast<long>(code), text ? text : "");
  } else {
    std::printf("    pager type %02X, status %c, bytes", type, status);
    for (BYTE b : memory) std::printf(" %02X", b);
    std::printf("\n");
  }
  error->Release();
  state->Release();
  transfer->Release();
}

}  // namespace

int main(int argc, char** argv) {
  if (FAILED(CoInitialize(nullptr))) {
    std::printf("the component runtime did not start\n");
    return 2;
  }
  S19RoundTrip();
  IProgressIndicator* progress = MakeProgress();
  if (argc > 1) UsePager(argv[1], progress);
  if (progress) progress->Release();
  CoUninitialize();
  std::printf("%s\n", failures ? "some steps FAILED" : "all steps ok");
  return failures ? 1 : 0;
}
