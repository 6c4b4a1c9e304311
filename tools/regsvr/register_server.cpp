#include "tools/regsvr/register_server.h"

#include "tools/regsvr/library.h"

namespace regsvr {

Registration CallRegisterServer(const std::string& path) {
  Registration r;
  Library library(path);
  if (!library.Loaded()) {
    r.loaderError = library.Error();
    return r;
  }
  // HRESULT is 32 bits wide on every platform: calling the export through
  // a function type with a wider result would read undefined upper bits.
  using RegisterFn = HRESULT(STDAPICALLTYPE*)();
  auto entry = reinterpret_cast<RegisterFn>(library.Export("DllRegisterServer"));
  if (entry == nullptr) {
    r.outcome = Registration::kNoExport;
    return r;
  }
  r.result = entry();
  r.outcome = FAILED(r.result) ? Registration::kFailed : Registration::kRegistered;
  return r;
}

}  // namespace regsvr
