// The thunked serial channel against a recording dispatcher: what reaches
// the helper library, in which order, with which parameter block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tarn/channel/thunked_serial_channel.h"

namespace tarn {
namespace {

struct Call {
  uint32_t command;
  uint32_t words[10];
  bool translatesWord0;  // the translation list names word 0
  std::string device;
};

std::vector<Call> g_calls;
std::map<uint32_t, uint32_t> g_results;  // command -> result (default 0)
uint32_t g_readByte = 0;

uint32_t TARN_THUNK_CALL Record(ThunkParamBlock* block, uint32_t command, void** list) {
  Call c{command,
         {},
         list != nullptr && list[0] == &block->word[0],
         block->deviceName != nullptr ? block->deviceName : ""};
  std::memcpy(c.words, block->word, sizeof c.words);
  g_calls.push_back(c);
  if (command == 112) block->word[6] = g_readByte;
  if (command == 160) block->word[8] = 0x1234;
  auto r = g_results.find(command);
  return r == g_results.end() ? 0 : r->second;
}

class RecordingLoader : public ThunkLoader {
 public:
  ThunkEntry Register() override {
    ++registrations;
    return fail ? nullptr : &Record;
  }
  void Unregister() override { ++unregistrations; }
  int registrations = 0;
  int unregistrations = 0;
  bool fail = false;
};

std::vector<uint32_t> Commands() {
  std::vector<uint32_t> out;
  for (const Call& c : g_calls) out.push_back(c.command);
  return out;
}

class Thunked : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls.clear();
    g_results.clear();
    CThunkedSerialChannel::SetLoader(&loader);
  }
  void TearDown() override {
    CThunkedSerialChannel::SetLoader(nullptr);
    CThunkedSerialChannel::SetTickSource(nullptr);
  }
  RecordingLoader loader;
};

TEST_F(Thunked, RegistersOncePerProcessAndAgainAfterTheLastObject) {
  auto* first = new CThunkedSerialChannel;
  auto* second = new CThunkedSerialChannel;
  first->Initialize();
  second->Initialize();
  EXPECT_EQ(loader.registrations, 1);
  EXPECT_EQ(CThunkedSerialChannel::InstanceCount(), 2);
  delete first;
  EXPECT_TRUE(CThunkedSerialChannel::IsRegistered());
  EXPECT_EQ(loader.unregistrations, 0);
  delete second;
  EXPECT_FALSE(CThunkedSerialChannel::IsRegistered());
  EXPECT_EQ(loader.unregistrations, 1);
  CThunkedSerialChannel third;
  third.Initialize();
  EXPECT_EQ(loader.registrations, 2);
}

TEST_F(Thunked, UnreachableHelperFailsInitializeWithCode14) {
  loader.fail = true;
  CThunkedSerialChannel channel;
  try {
    channel.Initialize();
    FAIL() << "Initialize succeeded without a helper";
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 14);
  }
  EXPECT_FALSE(CThunkedSerialChannel::IsRegistered());
}

TEST_F(Thunked, OpenFillsTheParameterBlockAndTranslatesOnlyTheName) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  channel.SetSettings("device = COM2 baud = 4800 parity = even data = 7 stop = 2");
  EXPECT_EQ(channel.SetTimeout(5000), 200u);
  EXPECT_TRUE(g_calls.empty());  // a timeout on a closed channel sends no command
  EXPECT_EQ(channel.ParamBlock().word[7], 5000u);
  channel.Open();
  ASSERT_EQ(Commands(), (std::vector<uint32_t>{16, 48}));
  const Call& open = g_calls[0];
  EXPECT_TRUE(open.translatesWord0);
  EXPECT_FALSE(g_calls[1].translatesWord0);
  EXPECT_EQ(open.device, "COM2");
  EXPECT_EQ(open.words[1], 0u);
  EXPECT_EQ(open.words[2], 4800u);
  EXPECT_EQ(open.words[3], 2u);
  EXPECT_EQ(open.words[4], 7u);
  EXPECT_EQ(open.words[5], 2u);
  EXPECT_EQ(open.words[7], 5000u);
  channel.Open();  // already open: nothing
  EXPECT_EQ(g_calls.size(), 2u);
  channel.Close();
  channel.Close();
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{16, 48, 32}));
}

TEST_F(Thunked, FailedOpenAndConfigureLeaveTheChannelClosed) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  g_results[16] = 5;
  try {
    channel.Open();
    FAIL();
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 1);
  }
  EXPECT_FALSE(channel.IsOpen());
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{16}));

  g_calls.clear();
  g_results = {{48, 1}};
  try {
    channel.Open();
    FAIL();
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 3);
  }
  EXPECT_FALSE(channel.IsOpen());
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{16, 48, 32}));

  g_calls.clear();
  g_results = {{32, 7}};
  channel.Open();
  try {
    channel.Close();
    FAIL();
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 3);
  }
  EXPECT_FALSE(channel.IsOpen());  // marked closed all the same
}

TEST_F(Thunked, ByteTransferResults) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  channel.SetSettings("device = COM1");
  channel.SetEchoCancel(false);
  channel.Open();
  g_calls.clear();
  g_readByte = 0x1A5;
  EXPECT_EQ(channel.ReadByte(), 0xA5);
  channel.WriteByte(0x42);
  EXPECT_EQ(g_calls.back().command, 96u);
  EXPECT_EQ(g_calls.back().words[6], 0x42u);

  auto codeOf = [&](auto&& op) {
    try {
      op();
    } catch (const GeneralException& e) {
      return e.GetCode();
    }
    return 0;
  };
  g_results = {{112, 2}};
  EXPECT_EQ(codeOf([&] { channel.ReadByte(); }), 7);
  g_results = {{112, 1}};
  EXPECT_EQ(codeOf([&] { channel.ReadByte(); }), 3);
  g_results = {{96, 2}};
  EXPECT_EQ(codeOf([&] { channel.WriteByte(1); }), 8);
  g_results = {{96, 9}};
  EXPECT_EQ(codeOf([&] { channel.WriteByte(1); }), 3);
  g_results.clear();

  // With echo cancelling on, each byte written is followed by one read.
  channel.SetEchoCancel(true);
  g_calls.clear();
  channel.WriteByte(7);
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{96, 112}));
  g_results = {{112, 2}};
  EXPECT_EQ(codeOf([&] { channel.WriteByte(7); }), 7);
}

TEST_F(Thunked, ControlCommands) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  EXPECT_FALSE(channel.SetBreak(true));  // closed: no command, flag stored
  EXPECT_TRUE(channel.IsBreak());
  // Nor do the status query, the purges and the extended function.
  EXPECT_EQ(channel.QueryStatus(), 0u);
  channel.PurgeInput();
  channel.PurgeOutput();
  channel.EscapeFunction(5);
  EXPECT_TRUE(g_calls.empty());
  channel.SetSettings("device = COM1");
  channel.Open();
  g_calls.clear();
  EXPECT_TRUE(channel.SetBreak(false));
  EXPECT_EQ(channel.QueryStatus(), 0x1234u);
  channel.PurgeInput();
  channel.PurgeOutput();
  channel.EscapeFunction(5);
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{80, 160, 176, 192, 208}));
  EXPECT_EQ(g_calls.back().words[9], 5u);
}

TEST_F(Thunked, SettingsUseSixteenBitBaudRates) {
  CThunkedSerialChannel channel;
  channel.Initialize();
  channel.SetSettings("baud = 65537");
  EXPECT_EQ(channel.BaudRate(), 1);
  try {
    channel.SetSettings("baud = 65536");
    FAIL();
  } catch (const GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 13);
  }
  EXPECT_EQ(channel.BaudRate(), 1);
  channel.SetSettings("baud = -2400");  // atoi keeps the sign; the low 16 bits are taken
  EXPECT_EQ(channel.BaudRate(), static_cast<uint16_t>(-2400));

  // Applying settings to an open port closes and reopens it.
  channel.SetSettings("device = COM1 baud = 9600");
  channel.Open();
  g_calls.clear();
  channel.SetSettings("baud = 2400");
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{32, 16, 48}));
  EXPECT_EQ(g_calls[1].words[2], 2400u);
}

uint32_t g_tick = 0;
int g_tickReads = 0;
uint32_t FakeTicks() {
  ++g_tickReads;
  return g_tickReads < 4 ? g_tick : g_tick + (g_tickReads - 3);
}

TEST_F(Thunked, DelayBusyWaitsOnTheTick) {
  CThunkedSerialChannel::SetTickSource(&FakeTicks);
  CThunkedSerialChannel channel;
  g_tick = 1000;
  g_tickReads = 0;
  channel.Delay(0);  // returns at the first tick change
  EXPECT_EQ(g_tickReads, 4);
  g_tickReads = 0;
  channel.Delay(5);  // until the tick passes start + 5
  EXPECT_EQ(g_tickReads, 9);
  g_tick = 0xFFFFFFFE;  // start + d overflows: ends early
  g_tickReads = 0;
  channel.Delay(10);
  EXPECT_EQ(g_tickReads, 2);
}

TEST(ThunkedPlatformLoader, FindsTheDispatcherInASharedLibrary) {
  setenv("TARN_THUNK_LIBRARY", TEST_DISPATCHER_PATH, 1);
  {
    CThunkedSerialChannel channel;
    channel.Initialize();
    EXPECT_TRUE(CThunkedSerialChannel::IsRegistered());
    channel.SetSettings("device = loopback");
    channel.SetEchoCancel(false);
    channel.Open();
    channel.WriteByte(0x5A);  // the test dispatcher echoes the last byte written
    EXPECT_EQ(channel.ReadByte(), 0x5A);
    channel.Close();
  }
  EXPECT_FALSE(CThunkedSerialChannel::IsRegistered());
  setenv("TARN_THUNK_LIBRARY", "/nonexistent/libnothing.so", 1);
  CThunkedSerialChannel channel;
  EXPECT_THROW(channel.Initialize(), GeneralException);
  unsetenv("TARN_THUNK_LIBRARY");
}

}  // namespace
}  // namespace tarn
