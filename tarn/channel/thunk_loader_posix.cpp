// The thunk loader on POSIX: there is no universal thunk, so the helper is
// a shared library that exports ThunkDispatcher with the thunk entry's
// signature. TARN_THUNK_LIBRARY names it; the default is "libmarvosel.so",
// found on the dynamic loader's search path.
#include <dlfcn.h>
#include <time.h>

#include <cstdlib>

#include "tarn/channel/thunked_serial_channel.h"

namespace tarn {
namespace {

class PosixThunkLoader : public ThunkLoader {
 public:
  ThunkEntry Register() override {
    const char* name = std::getenv("TARN_THUNK_LIBRARY");
    if (name == nullptr || *name == '\0') name = "libmarvosel.so";
    library_ = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) return nullptr;
    void* entry = dlsym(library_, "ThunkDispatcher");
    if (entry == nullptr) {
      dlclose(library_);
      library_ = nullptr;
      return nullptr;
    }
    return reinterpret_cast<ThunkEntry>(entry);
  }

  void Unregister() override {
    void* library = library_;
    library_ = nullptr;
    if (library != nullptr && dlclose(library) != 0) throw GeneralException(kChannelControlFailed);
  }

 private:
  void* library_ = nullptr;
};

}  // namespace

ThunkLoader& PlatformThunkLoader() {
  static PosixThunkLoader loader;
  return loader;
}

uint32_t PlatformTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace tarn
