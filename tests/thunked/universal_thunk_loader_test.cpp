// Registration through the universal thunk on fake kernel functions: each
// step that fails leaves the channel without its helper (code 14) and the
// kernel library freed once it was loaded; the release undoes a successful
// registration in order.
#include "tarn/channel/universal_thunk_loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarn {
namespace {

// What the fake kernel does, and the log of what it was asked.
struct FakeKernel {
  bool noModule = false;
  bool noLibrary = false;
  bool noRegister = false;
  bool noUnregister = false;
  bool registerFails = false;
  bool freeFails = false;
  std::vector<std::string> log;
} g_kernel;

char g_module, g_library;  // their addresses stand for the handles

uint32_t TARN_THUNK_CALL Dispatcher(ThunkParamBlock*, uint32_t, void**) {
  return 0;
}

int TARN_THUNK_CALL FakeRegister(void* module, const char* dll16, const char* init,
                                 const char* proc, void** thunk, void* callback, void* buffer) {
  g_kernel.log.push_back(std::string("UTRegister ") + (module == &g_module ? "exe " : "? ") +
                         dll16 + (init == nullptr ? " - " : " init ") + proc +
                         (callback == nullptr && buffer == nullptr ? " - -" : " callback"));
  if (g_kernel.registerFails) return 0;
  *thunk = reinterpret_cast<void*>(&Dispatcher);
  return 1;
}

void TARN_THUNK_CALL FakeUnregister(void* module) {
  g_kernel.log.push_back(module == &g_module ? "UTUnRegister exe" : "UTUnRegister ?");
}

const KernelFunctions kFake{
    [] { return g_kernel.noModule ? nullptr : static_cast<void*>(&g_module); },
    [](const char* name) -> void* {
      g_kernel.log.push_back(std::string("LoadLibrary ") + name);
      return g_kernel.noLibrary ? nullptr : &g_library;
    },
    [](void* library, const char* name) -> void* {
      if (library != &g_library) return nullptr;
      if (std::string(name) == "UTRegister" && !g_kernel.noRegister)
        return reinterpret_cast<void*>(&FakeRegister);
      if (std::string(name) == "UTUnRegister" && !g_kernel.noUnregister)
        return reinterpret_cast<void*>(&FakeUnregister);
      return nullptr;
    },
    [](void* library) {
      g_kernel.log.push_back(library == &g_library ? "FreeLibrary kernel" : "FreeLibrary ?");
      return !g_kernel.freeFails;
    },
};

// Initialize of a channel on the fake kernel: the channel code, or 0.
int InitializeCode(UniversalThunkLoader& loader) {
  CThunkedSerialChannel::SetLoader(&loader);
  int code = 0;
  {
    CThunkedSerialChannel channel;
    try {
      channel.Initialize();
    } catch (const GeneralException& e) {
      code = e.GetCode();
    }
  }
  CThunkedSerialChannel::SetLoader(nullptr);
  return code;
}

TEST(UniversalThunkLoader, EveryFailedStepIsCodeFourteenAndFreesWhatWasLoaded) {
  struct Case {
    const char* name;
    bool FakeKernel::*flag;
    std::vector<std::string> log;
  };
  const std::string load = "LoadLibrary Kernel32.Dll";
  const std::vector<Case> cases = {
      {"no module handle", &FakeKernel::noModule, {}},
      {"kernel not loaded", &FakeKernel::noLibrary, {load}},
      {"no UTRegister", &FakeKernel::noRegister, {load, "FreeLibrary kernel"}},
      {"no UTUnRegister", &FakeKernel::noUnregister, {load, "FreeLibrary kernel"}},
      {"registration refused",
       &FakeKernel::registerFails,
       {load, "UTRegister exe MARVOSEL.DLL - ThunkDispatcher - -", "FreeLibrary kernel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_kernel = FakeKernel{};
    g_kernel.*c.flag = true;
    UniversalThunkLoader loader(kFake);
    EXPECT_EQ(InitializeCode(loader), 14);
    EXPECT_EQ(g_kernel.log, c.log);
    EXPECT_FALSE(CThunkedSerialChannel::IsRegistered());
  }
}

TEST(UniversalThunkLoader, RegistersAndReleasesInOrder) {
  g_kernel = FakeKernel{};
  UniversalThunkLoader loader(kFake);
  EXPECT_EQ(InitializeCode(loader), 0);  // the channel's destruction releases
  EXPECT_EQ(g_kernel.log,
            (std::vector<std::string>{"LoadLibrary Kernel32.Dll",
                                      "UTRegister exe MARVOSEL.DLL - ThunkDispatcher - -",
                                      "UTUnRegister exe", "FreeLibrary kernel"}));

  g_kernel = FakeKernel{};
  g_kernel.freeFails = true;
  ASSERT_EQ(loader.Register(), &Dispatcher);
  try {
    loader.Unregister();
    FAIL() << "a kernel library that cannot be freed went unreported";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 3);
  }
  g_kernel.log.clear();
  loader.Unregister();  // released already: nothing more
  EXPECT_TRUE(g_kernel.log.empty());
}

}  // namespace
}  // namespace tarn
