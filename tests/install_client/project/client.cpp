// Creates each component by ProgID and prints one fact of each.
#include <tarnholm/interfaces.h>

#include <cstdio>

int main() {
  if (FAILED(CoInitialize(nullptr))) return 1;
  int failures = 0;
  IDownloadError* download = nullptr;
  if (CoCreateInstance(CLSID_Download, nullptr, CLSCTX_INPROC_SERVER, IID_IDownloadError,
                       reinterpret_cast<void**>(&download)) == S_OK) {
    const char* text = nullptr;
    download->GetErrorText(&text);
    std::printf("BRENTAR.TARN: %s\n", text);
    download->Release();
  } else {
    ++failures;
  }
  IS19Error* s19 = nullptr;
  if (CoCreateInstance(CLSID_S19Support, nullptr, CLSCTX_INPROC_SERVER, IID_IS19Error,
                       reinterpret_cast<void**>(&s19)) == S_OK) {
    const char* text = nullptr;
    s19->GetErrorText(&text);
    std::printf("Brenlow.S19SUPPORT: %s\n", text);
    s19->Release();
  } else {
    ++failures;
  }
  CoUninitialize();
  return failures;
}
