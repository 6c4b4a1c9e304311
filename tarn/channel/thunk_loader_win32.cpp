// The thunk loader on Windows: the Win32s universal thunk. UTRegister and
// UTUnRegister are looked up by name in the kernel library; they exist only
// on Win32s, so everywhere else registration fails and the download server
// has no channel (it then uses the direct channel anyway, since only Win32s
// asks for this one).
#include <windows.h>

#include "tarn/channel/thunked_serial_channel.h"

namespace tarn {
namespace {

using UTRegisterFn = BOOL(WINAPI*)(HANDLE module, LPCSTR dll16, LPCSTR initName, LPCSTR procName,
                                   LPVOID* thunk, LPVOID callback, LPVOID buffer);
using UTUnRegisterFn = VOID(WINAPI*)(HANDLE module);

class Win32ThunkLoader : public ThunkLoader {
 public:
  ThunkEntry Register() override {
    module_ = GetModuleHandleA(nullptr);
    if (module_ == nullptr) return nullptr;
    kernel_ = LoadLibraryA("Kernel32.Dll");
    if (kernel_ == nullptr) return nullptr;
    auto reg = reinterpret_cast<UTRegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel_, "UTRegister")));
    unregister_ = reinterpret_cast<UTUnRegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel_, "UTUnRegister")));
    if (reg == nullptr || unregister_ == nullptr) {
      FreeLibrary(kernel_);
      kernel_ = nullptr;
      return nullptr;
    }
    LPVOID thunk = nullptr;
    if (!reg(module_, "MARVOSEL.DLL", nullptr, "ThunkDispatcher", &thunk, nullptr, nullptr)) {
      FreeLibrary(kernel_);
      kernel_ = nullptr;
      return nullptr;
    }
    return reinterpret_cast<ThunkEntry>(thunk);
  }

  void Unregister() override {
    if (unregister_ != nullptr) unregister_(module_);
    HMODULE kernel = kernel_;
    kernel_ = nullptr;
    if (kernel != nullptr && !FreeLibrary(kernel)) throw GeneralException(kChannelControlFailed);
  }

 private:
  HMODULE module_ = nullptr;
  HMODULE kernel_ = nullptr;
  UTUnRegisterFn unregister_ = nullptr;
};

}  // namespace

ThunkLoader& PlatformThunkLoader() {
  static Win32ThunkLoader loader;
  return loader;
}

uint32_t PlatformTickCount() {
  return GetTickCount();
}

}  // namespace tarn
