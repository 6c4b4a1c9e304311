// Shows one of the settings dialogs on the current UI backend (the terminal
// unless HOLM_UI says otherwise) and writes the string that Change handed
// back, followed by a newline, to a file (or to stdout).
//
//   port_setup_probe settings|baudport|port "<settings string>" [out-file]
#include <tarnholm/interfaces.h>
#include <tarnholm/text.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "holm/dialogs/port_setup.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s settings|baudport|port TEXT [OUT]\n", argv[0]);
    return 2;
  }
  fw::CCmdTarget* (*create)() = nullptr;
  if (std::strcmp(argv[1], "settings") == 0) create = holm::CreateHC_PortSettings;
  if (std::strcmp(argv[1], "baudport") == 0) create = holm::CreateHC_OnlyBaudPort;
  if (std::strcmp(argv[1], "port") == 0) create = holm::CreateHC_OnlyPort;
  if (create == nullptr) {
    std::fprintf(stderr, "unknown dialog %s\n", argv[1]);
    return 2;
  }
  fw::CCmdTarget* object = create();
  IPortSetup* setup = nullptr;
  HRESULT hr = object->InternalQueryInterface(IID_IPortSetup, reinterpret_cast<void**>(&setup));
  object->InternalRelease();
  if (FAILED(hr)) return 1;

  BSTR text = tarnholm::NarrowToBstr(argv[2]);
  hr = setup->Change(&text);
  setup->Release();
  std::string out;
  tarnholm::BstrToNarrow(text, out);
  SysFreeString(text);
  if (FAILED(hr)) return 1;

  FILE* f = argc > 3 ? std::fopen(argv[3], "w") : stdout;
  if (f == nullptr) return 1;
  std::fprintf(f, "%s\n", out.c_str());
  return (f == stdout ? std::fflush(f) : std::fclose(f)) == 0 ? 0 : 1;
}
