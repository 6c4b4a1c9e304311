// The three methods of IUnknown run in the module state of the library that
// created the object, and give the caller's state back.
#include <gtest/gtest.h>

#include "framework/cmd_target.h"
#include "framework/module.h"

namespace {

const IID IID_IProbe = {0x5A5A5A5A, 0x1111, 0x2222, {9, 8, 7, 6, 5, 4, 3, 2}};

struct IProbe : IUnknown {};

fw::ModuleState* g_inInterfaceMap = nullptr;
fw::ModuleState* g_atFinalRelease = nullptr;

class Probe : public fw::CCmdTarget, public IProbe {
 public:
  FW_IUNKNOWN_IMPL()

 protected:
  IUnknown* GetInterface(REFIID iid) override {
    g_inInterfaceMap = fw::CurrentModuleState();
    return IsEqualIID(iid, IID_IProbe) ? static_cast<IProbe*>(this) : nullptr;
  }
  IUnknown* GetPrimaryUnknown() override { return static_cast<IProbe*>(this); }
  void OnFinalRelease() override {
    g_atFinalRelease = fw::CurrentModuleState();
    fw::CCmdTarget::OnFinalRelease();
  }
};

TEST(ModuleState, QueryInterfaceAddRefAndReleaseEnterTheLibrarysState) {
  IProbe* probe = new Probe;
  fw::ModuleState caller{"caller"};
  fw::MaintainState asCaller(&caller);
  void* found = nullptr;
  ASSERT_EQ(probe->QueryInterface(IID_IProbe, &found), S_OK);
  EXPECT_EQ(g_inInterfaceMap, fw::ThisModuleState());
  EXPECT_EQ(fw::CurrentModuleState(), &caller);
  EXPECT_EQ(probe->AddRef(), 3u);
  EXPECT_EQ(fw::CurrentModuleState(), &caller);
  probe->Release();
  probe->Release();
  EXPECT_EQ(probe->Release(), 0u);
  EXPECT_EQ(g_atFinalRelease, fw::ThisModuleState());
  EXPECT_EQ(fw::CurrentModuleState(), &caller);
}

}  // namespace
