#include "tarn/channel/universal_thunk_loader.h"

namespace tarn {

ThunkEntry UniversalThunkLoader::Register() {
  module_ = kernel_.executableModule();
  if (module_ == nullptr) return nullptr;
  library_ = kernel_.loadLibrary("Kernel32.Dll");
  if (library_ == nullptr) return nullptr;
  auto reg = reinterpret_cast<UTRegisterFn>(kernel_.procAddress(library_, "UTRegister"));
  unregister_ = reinterpret_cast<UTUnRegisterFn>(kernel_.procAddress(library_, "UTUnRegister"));
  if (reg == nullptr || unregister_ == nullptr) return Abandon();
  void* thunk = nullptr;
  if (reg(module_, "MARVOSEL.DLL", nullptr, "ThunkDispatcher", &thunk, nullptr, nullptr) == 0)
    return Abandon();
  return reinterpret_cast<ThunkEntry>(thunk);
}

ThunkEntry UniversalThunkLoader::Abandon() {
  (void)kernel_.freeLibrary(library_);
  library_ = nullptr;
  unregister_ = nullptr;
  return nullptr;
}

void UniversalThunkLoader::Unregister() {
  if (unregister_ != nullptr) unregister_(module_);
  unregister_ = nullptr;
  void* library = library_;
  library_ = nullptr;
  if (library != nullptr && !kernel_.freeLibrary(library))
    throw GeneralException(kChannelControlFailed);
}

}  // namespace tarn
