// The thunk loader on Windows: the Win32s universal thunk, registered by
// UniversalThunkLoader on the real kernel functions. UTRegister and
// UTUnRegister exist only on Win32s, so everywhere else registration fails
// and the download server has no channel (it then uses the direct channel
// anyway, since only Win32s asks for this one).
#include <windows.h>

#include "tarn/channel/thunked_serial_channel.h"
#include "tarn/channel/universal_thunk_loader.h"

namespace tarn {
namespace {

void* ExecutableModule() {
  return GetModuleHandleA(nullptr);
}
void* LoadKernelLibrary(const char* name) {
  return LoadLibraryA(name);
}
void* ProcAddress(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
bool FreeKernelLibrary(void* library) {
  return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}

}  // namespace

ThunkLoader& PlatformThunkLoader() {
  static UniversalThunkLoader loader(
      KernelFunctions{&ExecutableModule, &LoadKernelLibrary, &ProcAddress, &FreeKernelLibrary});
  return loader;
}

uint32_t PlatformTickCount() {
  return GetTickCount();
}

}  // namespace tarn
