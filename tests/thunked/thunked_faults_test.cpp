// The thunked channel where its numbers could quietly go wrong (the timeout
// word before the first open, a baud rate too wide for its word) and where
// the helper library cannot be let go of when the last channel goes.
#include <gtest/gtest.h>

#include <vector>

#include "tarn/channel/thunked_serial_channel.h"

namespace tarn {
namespace {

std::vector<ThunkParamBlock> g_blocks;  // the block as each command saw it

uint32_t TARN_THUNK_CALL Keep(ThunkParamBlock* block, uint32_t, void**) {
  g_blocks.push_back(*block);
  return 0;
}

class Loader : public ThunkLoader {
 public:
  ThunkEntry Register() override {
    ++registrations;
    return &Keep;
  }
  void Unregister() override {
    ++releases;
    if (failRelease) throw GeneralException(kChannelControlFailed);
  }
  int registrations = 0;
  int releases = 0;
  bool failRelease = false;
};

class ThunkedFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    g_blocks.clear();
    CThunkedSerialChannel::SetLoader(&loader);
  }
  void TearDown() override { CThunkedSerialChannel::SetLoader(nullptr); }
  Loader loader;
};

TEST_F(ThunkedFaults, TimeoutWordHoldsTheDefaultFromConstruction) {
  CThunkedSerialChannel channel;
  EXPECT_EQ(channel.ParamBlock().word[7], 200u);
}

TEST_F(ThunkedFaults, BaudRateAbove65535ReachesTheHelperAsItsLowSixteenBits) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  channel.SetSettings("device = COM1 baud = 70000");  // 70000 = 0x11170
  channel.Open();
  ASSERT_FALSE(g_blocks.empty());
  EXPECT_EQ(g_blocks.front().word[2], 0x1170u);
  EXPECT_EQ(channel.BaudRate(), 0x1170);
}

TEST_F(ThunkedFaults, ReleaseThatFailsAtTheLastDestructionStillUnregisters) {
  loader.failRelease = true;
  {
    CThunkedSerialChannel channel;
    channel.Initialize();
  }  // the failure cannot leave a destructor
  EXPECT_EQ(loader.releases, 1);
  EXPECT_FALSE(CThunkedSerialChannel::IsRegistered());
  EXPECT_EQ(CThunkedSerialChannel::InstanceCount(), 0);
  loader.failRelease = false;
  CThunkedSerialChannel next;
  next.Initialize();  // registers afresh
  EXPECT_EQ(loader.registrations, 2);
}

}  // namespace
}  // namespace tarn
