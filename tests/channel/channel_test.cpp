// CSerialChannel's own behaviours and CDirectSerialChannel's sequencing of
// port calls, against a scripted port.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "code_of.h"
#include "fake_port.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

using Calls = std::vector<std::string>;

using testsupport::CodeOf;

class DirectChannel : public ::testing::Test {
 protected:
  DirectChannel() {
    auto owned = std::make_unique<FakePort>();
    port = owned.get();
    ch = std::make_unique<CDirectSerialChannel>(std::move(owned));
  }
  void OpenWith(const char* settings = "device = COM1") {
    ch->SetSettings(settings);
    ch->Open();
    port->calls.clear();
  }
  FakePort* port;
  std::unique_ptr<CDirectSerialChannel> ch;
};

TEST(BaseChannel, DefaultsAndSettersReturnPreviousValues) {
  CSerialChannel ch;
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_EQ(ch.GetTimeout(), 200u);
  EXPECT_EQ(ch.SetTimeout(2000), 200u);
  EXPECT_EQ(ch.SetTimeout(100), 2000u);
  EXPECT_TRUE(ch.SetBigEndian(false));
  EXPECT_FALSE(ch.SetBigEndian(true));
  EXPECT_TRUE(ch.SetEchoCancel(false));
  EXPECT_FALSE(ch.SetEchoCancel(false));
  EXPECT_FALSE(ch.SetBreak(true));
  EXPECT_TRUE(ch.SetBreak(false));
  EXPECT_EQ(ch.QueryStatus(), 0u);
  EXPECT_EQ(ch.GetSettingsLength(), 0u);
  char buf[4] = {'X', 'X', 'X', 'X'};
  EXPECT_EQ(ch.GetSettings(buf, sizeof buf), 0u);
  EXPECT_EQ(buf[0], 'X');
}

TEST(BaseChannel, IoOnAClosedChannelFailsWith11) {
  CSerialChannel ch;
  uint8_t b[2];
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.WriteByte(1); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.ReadWord(); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.WriteWord(1); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.ReadDword(); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.WriteDword(1); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.ReadBuffer(b, 2); }), 11);
  EXPECT_EQ(CodeOf([&] { ch.WriteBuffer(b, 2); }), 11);
  ch.Open();
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), 0);
  ch.Close();
  EXPECT_EQ(CodeOf([&] { ch.CheckOpen(); }), 11);
}

TEST(BaseChannel, GetSettingsTruncation) {
  CSerialChannel ch;
  ch.SetSettings("device = COM1");
  ASSERT_EQ(ch.GetSettingsLength(), 13u);
  char buf[32];
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(ch.GetSettings(buf, 14), 14u);
  EXPECT_STREQ(buf, "device = COM1");
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(ch.GetSettings(buf, 13), 13u);
  EXPECT_EQ(std::string(buf, 14), "device = COM1X");  // no terminator
  EXPECT_EQ(ch.GetSettings(buf, 0), 0u);
  EXPECT_EQ(ch.GetSettings(buf, 1000), 14u);
  ch.SetSettings("x");
  EXPECT_EQ(ch.GetSettingsLength(), 1u);
  ch.SetSettings(nullptr);  // no text: the stored one stays
  EXPECT_EQ(ch.GetSettingsLength(), 1u);
}

TEST_F(DirectChannel, ByteOrderOfWordsAndDwords) {
  OpenWith();
  ch->SetEchoCancel(false);
  ch->WriteWord(0x1234);
  ch->SetBigEndian(false);
  ch->WriteWord(0x1234);
  ch->SetBigEndian(true);
  ch->WriteDword(0x11223344);
  ch->SetBigEndian(false);
  ch->WriteDword(0x11223344);
  EXPECT_EQ(port->written, (std::vector<uint8_t>{0x12, 0x34, 0x34, 0x12, 0x11, 0x22, 0x33, 0x44,
                                                 0x44, 0x33, 0x22, 0x11}));
  port->input = {0xAB, 0xCD, 0xAB, 0xCD};
  ch->SetBigEndian(true);
  EXPECT_EQ(ch->ReadWord(), 0xABCD);
  ch->SetBigEndian(false);
  EXPECT_EQ(ch->ReadWord(), 0xCDAB);
}

TEST_F(DirectChannel, LoopBackDwordInBothOrders) {
  OpenWith();
  ch->SetEchoCancel(false);
  port->loopBack = true;
  for (bool big : {true, false}) {
    ch->SetBigEndian(big);
    ch->WriteDword(0xDEADBEEF);
    EXPECT_EQ(ch->ReadDword(), 0xDEADBEEFu);
    ch->WriteDword(0x01020304);
    EXPECT_EQ(ch->ReadDword(), 0x01020304u);
  }
  uint8_t out[3] = {7, 8, 9}, in[3] = {};
  ch->WriteBuffer(out, 3);
  ch->ReadBuffer(in, 3);
  EXPECT_EQ(std::memcmp(in, out, 3), 0);
}

TEST_F(DirectChannel, EchoCancelReadsOneByteBackAndDropsIt) {
  OpenWith();
  port->loopBack = true;
  ch->WriteByte(0x55);
  EXPECT_TRUE(port->input.empty());  // the echo was consumed
  port->loopBack = false;
  // No echo on the line: the write fails with 7 although the byte went out.
  EXPECT_EQ(CodeOf([&] { ch->WriteByte(0x66); }), 7);
  EXPECT_EQ(port->written.back(), 0x66);
  // Any byte counts as the echo.
  port->input = {0x00};
  EXPECT_EQ(CodeOf([&] { ch->WriteByte(0x77); }), 0);
}

TEST_F(DirectChannel, ByteTransferFailuresMapToChannelCodes) {
  OpenWith();
  ch->SetEchoCancel(false);
  EXPECT_EQ(CodeOf([&] { ch->ReadByte(); }), 7);
  port->failRead = true;
  EXPECT_EQ(CodeOf([&] { ch->ReadByte(); }), 5);
  port->failWrite = true;
  EXPECT_EQ(CodeOf([&] { ch->WriteByte(1); }), 6);
  EXPECT_TRUE(ch->IsOpen());  // a failed transfer leaves the channel open
}

TEST_F(DirectChannel, OpenSequenceAndIdempotence) {
  EXPECT_EQ(CodeOf([&] { ch->Open(); }), 1);  // no device name
  EXPECT_FALSE(ch->IsOpen());
  EXPECT_STREQ(ch->FailureReason(), "no device name");
  EXPECT_TRUE(port->calls.empty());
  ch->SetTimeout(100);
  ch->SetSettings("device = COM2 baud = 19200 data = 7 parity = even stop = 2");
  ch->Open();
  EXPECT_EQ(port->calls, (Calls{"Open:COM2", "Configure", "PurgeAll", "SetTimeouts:100"}));
  EXPECT_EQ(port->lastConfig.baudRate, 19200u);
  EXPECT_EQ(port->lastConfig.dataBits, 7);
  EXPECT_EQ(port->lastConfig.parityCode, 2);
  EXPECT_EQ(port->lastConfig.stopBitsCode, 2);
  port->calls.clear();
  ch->Open();
  EXPECT_TRUE(port->calls.empty());
  ch->Close();
  EXPECT_EQ(port->calls, (Calls{"PurgeInput", "PurgeOutput", "Close"}));
  port->calls.clear();
  ch->Close();
  EXPECT_TRUE(port->calls.empty());
  EXPECT_FALSE(ch->IsOpen());
}

TEST_F(DirectChannel, FailedOpenStepsLeaveTheChannelClosed) {
  ch->SetSettings("device = COM1");
  port->failOpen = true;
  EXPECT_EQ(CodeOf([&] { ch->Open(); }), 1);
  EXPECT_STREQ(ch->FailureReason(), "port busy");
  EXPECT_EQ(ch->LastOsError(), 16);
  EXPECT_FALSE(ch->IsOpen());
  port->failOpen = false;
  port->failConfigure = true;
  EXPECT_EQ(CodeOf([&] { ch->Open(); }), 3);
  EXPECT_FALSE(ch->IsOpen());
  EXPECT_FALSE(port->isOpen);
  port->failConfigure = false;
  port->failTimeouts = true;
  EXPECT_EQ(CodeOf([&] { ch->Open(); }), 9);
  EXPECT_FALSE(ch->IsOpen());
  EXPECT_FALSE(port->isOpen);
  // Even when the close that follows fails, the port is released.
  port->failPurge = true;
  EXPECT_EQ(CodeOf([&] { ch->Open(); }), 9);
  EXPECT_FALSE(ch->IsOpen());
  EXPECT_FALSE(port->isOpen);
}

TEST_F(DirectChannel, FailedCloseLeavesTheChannelOpen) {
  OpenWith();
  port->failPurge = true;
  EXPECT_EQ(CodeOf([&] { ch->Close(); }), 3);
  EXPECT_TRUE(ch->IsOpen());
  port->failPurge = false;
  port->failClose = true;
  EXPECT_EQ(CodeOf([&] { ch->Close(); }), 3);
  EXPECT_TRUE(ch->IsOpen());
  port->failClose = false;
  ch->Close();
  EXPECT_FALSE(ch->IsOpen());
}

TEST_F(DirectChannel, TimeoutAppliesToAnOpenPortAndKeepsOldOnFailure) {
  EXPECT_EQ(ch->SetTimeout(2000), 200u);
  EXPECT_TRUE(port->calls.empty());  // closed: stored only
  OpenWith();
  EXPECT_EQ(port->lastTimeout, 2000u);
  EXPECT_EQ(ch->SetTimeout(50), 2000u);
  EXPECT_EQ(port->lastTimeout, 50u);
  port->failTimeouts = true;
  EXPECT_EQ(CodeOf([&] { ch->SetTimeout(70); }), 9);
  EXPECT_EQ(ch->GetTimeout(), 50u);
}

TEST_F(DirectChannel, BreakAndPurgesTouchOnlyAnOpenPort) {
  EXPECT_FALSE(ch->SetBreak(true));
  ch->PurgeInput();
  ch->PurgeOutput();
  ch->EscapeFunction(5);
  EXPECT_TRUE(port->calls.empty());
  EXPECT_TRUE(ch->IsBreak());
  ch->SetBreak(false);
  OpenWith();
  EXPECT_FALSE(ch->SetBreak(true));
  EXPECT_TRUE(ch->SetBreak(false));
  ch->SendBreak(1);
  EXPECT_EQ(port->calls,
            (Calls{"BreakOn", "BreakOff", "PurgeAll", "BreakOn", "BreakOff", "PurgeAll"}));
  EXPECT_FALSE(ch->IsBreak());
  port->failBreak = true;
  EXPECT_EQ(CodeOf([&] { ch->SetBreak(true); }), 3);
  EXPECT_FALSE(ch->IsBreak());  // not stored when the port refused
  port->failPurge = true;
  EXPECT_EQ(CodeOf([&] { ch->PurgeInput(); }), 3);
  EXPECT_EQ(CodeOf([&] { ch->PurgeOutput(); }), 3);
}

TEST_F(DirectChannel, SettingsReopenAnOpenPortOnly) {
  ch->SetSettings("device = COM1");
  EXPECT_TRUE(port->calls.empty());
  EXPECT_FALSE(ch->IsOpen());
  ch->Open();
  port->calls.clear();
  ch->SetSettings("baud = 1200");
  EXPECT_EQ(port->calls, (Calls{"PurgeInput", "PurgeOutput", "Close", "Open:COM1", "Configure",
                                "PurgeAll", "SetTimeouts:200"}));
  EXPECT_EQ(port->lastConfig.baudRate, 1200u);
  EXPECT_TRUE(ch->IsOpen());
  // A rejected text neither reopens nor closes.
  port->calls.clear();
  EXPECT_EQ(CodeOf([&] { ch->SetSettings("baud = 0"); }), 13);
  EXPECT_TRUE(port->calls.empty());
  EXPECT_TRUE(ch->IsOpen());
}

TEST(DirectChannelLife, DestructorReleasesAPortLeftOpen) {
  bool releasedAtDeath = false;
  {
    auto owned = std::make_unique<FakePort>();
    owned->releasedAtDeath = &releasedAtDeath;
    CDirectSerialChannel ch(std::move(owned));
    ch.SetSettings("device = COM1");
    ch.Open();
  }
  EXPECT_TRUE(releasedAtDeath);
}

struct RecordingSink : ITraceSink {
  std::vector<std::pair<TraceDirection, uint8_t>> bytes;
  std::vector<std::string> events;
  void OnByte(TraceDirection d, uint8_t b) override { bytes.push_back({d, b}); }
  void OnEvent(const char* what) override { events.push_back(what); }
};

TEST_F(DirectChannel, TraceSeesBothDirectionsAndEvents) {
  RecordingSink sink;
  ch->SetTrace(&sink);
  OpenWith();
  port->loopBack = true;
  ch->WriteByte(0xA5);  // echo cancelled: sent and received
  port->loopBack = false;
  EXPECT_EQ(CodeOf([&] { ch->ReadByte(); }), 7);
  ch->SetTrace(nullptr);
  EXPECT_EQ(CodeOf([&] { ch->WriteByte(1); }), 7);  // neither the byte nor the timeout traced
  ASSERT_EQ(sink.bytes.size(), 2u);
  EXPECT_EQ(sink.bytes[0], std::make_pair(TraceDirection::kSent, uint8_t{0xA5}));
  EXPECT_EQ(sink.bytes[1], std::make_pair(TraceDirection::kReceived, uint8_t{0xA5}));
  EXPECT_EQ(sink.events, (std::vector<std::string>{"open", "read timeout"}));
}

}  // namespace
}  // namespace tarn
