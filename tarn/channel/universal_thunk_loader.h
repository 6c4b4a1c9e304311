// UniversalThunkLoader: registration of the 16-bit helper library through
// the universal thunk, step by step, on the kernel functions the platform
// hands in (thunk_loader_win32.cpp gives the real ones; tests give fakes,
// so the steps run on every platform):
//
//   1. the module handle of the process's executable; none: failure;
//   2. the kernel library, loaded by the name "Kernel32.Dll"; not loaded:
//      failure;
//   3. "UTRegister" and "UTUnRegister" looked up in it; either missing:
//      the kernel library is freed, failure;
//   4. UTRegister(module, "MARVOSEL.DLL", no initialisation routine,
//      "ThunkDispatcher", where the entry goes, no callback, no buffer);
//      a zero result: the kernel library is freed, failure.
//
// A failure is a null entry (the channel raises code 14 for it). Unregister
// calls UTUnRegister with the same module handle (its result is not
// examined) and frees the kernel library; a library that cannot be freed
// raises channel code 3.
#ifndef TARN_CHANNEL_UNIVERSAL_THUNK_LOADER_H
#define TARN_CHANNEL_UNIVERSAL_THUNK_LOADER_H

#include "tarn/channel/thunked_serial_channel.h"

namespace tarn {

// The kernel services the registration needs, as plain functions.
struct KernelFunctions {
  void* (*executableModule)();                            // GetModuleHandleA(no name)
  void* (*loadLibrary)(const char* name);                 // LoadLibraryA
  void* (*procAddress)(void* library, const char* name);  // GetProcAddress
  bool (*freeLibrary)(void* library);                     // FreeLibrary
};

using UTRegisterFn = int(TARN_THUNK_CALL*)(void* module, const char* dll16, const char* initName,
                                           const char* procName, void** thunk, void* callback,
                                           void* buffer);
using UTUnRegisterFn = void(TARN_THUNK_CALL*)(void* module);

class UniversalThunkLoader : public ThunkLoader {
 public:
  explicit UniversalThunkLoader(const KernelFunctions& kernel) : kernel_(kernel) {}
  ThunkEntry Register() override;
  void Unregister() override;

 private:
  // Frees the kernel library after a failed step; returns the null entry.
  ThunkEntry Abandon();

  KernelFunctions kernel_;
  void* module_ = nullptr;
  void* library_ = nullptr;
  UTUnRegisterFn unregister_ = nullptr;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_UNIVERSAL_THUNK_LOADER_H
