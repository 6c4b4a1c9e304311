// Command mode: entering it, single-byte, pair and parameter commands,
// leaving it, and the probe.
#include "protocol_test_util.h"

namespace protocol_test {
namespace {

const std::string kAck = "SetTimeout(5000) R:2E SetTimeout(2000)";

// A bench whose pager is in command mode, with the call record cleared.
struct CommandBench : Bench {
  explicit CommandBench(PagerConfig config = DefaultConfig()) : Bench(std::move(config)) {
    EXPECT_EQ(proto.DoBeginCommands(), kResultOk);
    EXPECT_TRUE(link.pager().InCommandMode());
    link.ClearCalls();
  }
  const pagersim::CommandRecord& LastCommand() { return link.pager().Commands().back(); }
};

TEST(BeginCommands, WakesSendsHeaderNineAndKeepsThePortOpen) {
  Bench b;
  b.proto.frameLength = 77;
  EXPECT_EQ(b.proto.DoBeginCommands(), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, W({0x80, 0x09, 0, 0, 0, 0, 0, 0}), kAck}));
  EXPECT_TRUE(b.link.IsOpen());
  EXPECT_TRUE(b.link.pager().InCommandMode());
  EXPECT_EQ(b.proto.frameLength, 0);
  EXPECT_EQ(b.link.GetTimeout(), 2000u);
}

TEST(BeginCommands, WrongAnswerToTheHeaderIsErrorFourteenWithThePortOpen) {
  Bench b(ConfigWithFault({Step::kCommandAck, FaultKind::kWrongByte, 0x21}));
  EXPECT_EQ(Outcome(b.proto.DoBeginCommands(), b.proto), "fail 14");
  EXPECT_TRUE(b.link.IsOpen());
  const std::string trace = b.link.Trace();
  EXPECT_EQ(trace.substr(trace.find("SetTimeout(5000)")), "SetTimeout(5000) R:21 SetTimeout(2000)");
}

// A port that cannot be opened is checked with the framed operations, in
// Frame.PortThatCannotBeOpenedIsErrorThreeAndNothingElse.
TEST(BeginCommands, FailuresBeforeTheAcknowledgement) {
  Bench b(ConfigWith([](PagerConfig& c) { c.ignoreWakes = 100; }));  // a silent pager
  EXPECT_EQ(Outcome(b.proto.DoBeginCommands(), b.proto), "fail 10");
  EXPECT_TRUE(b.link.IsOpen());
  EXPECT_EQ(b.link.Written(), Bytes(10, 0xAA));  // no header after a failed wake-up
}

TEST(Commands, SingleByteCommands) {
  CommandBench b;
  EXPECT_EQ(b.proto.DoSendCommand13(), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"W:13", kAck}));
  b.link.ClearCalls();
  EXPECT_EQ(b.proto.DoSendCommandFF(), kResultOk);
  const std::string ff = b.link.Trace();
  b.link.ClearCalls();
  EXPECT_EQ(b.proto.DoSendCommandFFRepeat(), kResultOk);
  EXPECT_EQ(b.link.Trace(), ff);
  EXPECT_EQ(ff, Join({"W:FF", kAck}));
  EXPECT_TRUE(b.link.IsOpen());
}

TEST(Commands, BytePairSendsTheLowBytesEachAcknowledged) {
  CommandBench b;
  EXPECT_EQ(b.proto.DoSendBytePair(0x1FF, 0x02), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"W:FF", kAck, "W:02", kAck}));
}

TEST(Commands, BytePairStopsWhenTheFirstIsNotAcknowledged) {
  CommandBench b;
  b.link.pager().Config().faults.push_back({Step::kCommandAck, FaultKind::kWrongByte, 0x15});
  EXPECT_EQ(Outcome(b.proto.DoSendBytePair(0x41, 0x42), b.proto), "fail 14");
  EXPECT_EQ(b.link.Written(), Bytes{0x41});
}

TEST(Commands, ParameterBlocksAndTheirChecksums) {
  struct Case {
    const char* name;
    int32_t (CPagerProtocol::*run)(int32_t, uint16_t);
    Bytes wire;
  };
  // 0xAE: address as two big-endian halves, low half first, then the value
  // big-endian; 0x40: both little-endian.
  const Case cases[] = {
      {"AE", &CPagerProtocol::DoSendCommandAE, {0xAE, 0x34, 0x56, 0x00, 0x12, 0xAB, 0xCD, 0x14}},
      {"40", &CPagerProtocol::DoSendCommand40, {0x40, 0x56, 0x34, 0x12, 0x00, 0xCD, 0xAB, 0x14}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandBench b;
    EXPECT_EQ((b.proto.*c.run)(0x123456, 0xABCD), kResultOk);
    EXPECT_EQ(b.link.Trace(), Join({W(c.wire), kAck}));
    EXPECT_EQ(b.LastCommand().command, c.wire[0]);
    EXPECT_TRUE(b.LastCommand().checksumOk);
    EXPECT_EQ(Bytes(b.proto.paramBlock, b.proto.paramBlock + 6),
              Bytes(c.wire.begin() + 1, c.wire.begin() + 7));
    EXPECT_EQ(b.proto.frameLength, 6);
    EXPECT_EQ(b.proto.transferBuffer, b.proto.paramBlock);
  }
  {
    CommandBench b;
    EXPECT_EQ(b.proto.DoSendCommand42(1), kResultOk);
    EXPECT_EQ(b.link.Trace(), Join({W({0x42, 0x01, 0x00, 0x00, 0x00, 0x01}), kAck}));
    EXPECT_EQ(b.proto.frameLength, 4);
  }
  {
    CommandBench b;
    EXPECT_EQ(b.proto.DoSendCommand46(0x10000, 0x100), kResultOk);
    EXPECT_EQ(b.link.Trace(),
              Join({W({0x46, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02}), kAck}));
    EXPECT_EQ(b.proto.frameLength, 8);
    EXPECT_TRUE(b.LastCommand().checksumOk);
  }
  {
    SCOPED_TRACE("negative numbers keep all 32 bits");
    CommandBench b;
    EXPECT_EQ(b.proto.DoSendCommand46(-2, -1), kResultOk);
    EXPECT_EQ(b.link.Written(),
              (Bytes{0x46, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF7}));
  }
}

TEST(Commands, ParameterCommandWithProgressReportsZeroAfterItsFirstByte) {
  CommandBench b;
  b.proto.progressSink = &b.sink;
  EXPECT_EQ(b.proto.DoSendCommand42(1), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"W:42 W:01 Delay(200) W:00 W:00 W:00 W:01", kAck}));
  EXPECT_EQ(b.sink.percents, std::vector<int32_t>{0});
}

TEST(Commands, RefusedBlockIsErrorFourteen) {
  CommandBench b;
  b.link.pager().Config().faults.push_back({Step::kCommandAck, FaultKind::kWrongByte, 0x15});
  EXPECT_EQ(Outcome(b.proto.DoSendCommand40(1, 2), b.proto), "fail 14");
}

TEST(Commands, OnAClosedPortAreErrorEightWithNothingOnTheWire) {
  Bench b;
  EXPECT_EQ(Outcome(b.proto.DoSendCommand13(), b.proto), "fail 8");
  EXPECT_EQ(b.proto.DoSendBytePair(1, 2), kResultFail);
  EXPECT_EQ(b.proto.DoSendCommandAE(1, 2), kResultFail);
  EXPECT_EQ(Outcome(b.proto.DoEndCommands(), b.proto), "fail 8");
  EXPECT_TRUE(b.link.Calls().empty());
  EXPECT_TRUE(b.link.pager().Transcript().empty());
}

TEST(EndCommands, LeavesCommandModeAndClosesThePort) {
  CommandBench b;
  EXPECT_EQ(b.proto.DoEndCommands(), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"W:12", kAck, "Close"}));
  EXPECT_FALSE(b.link.IsOpen());
  EXPECT_FALSE(b.link.pager().InCommandMode());
}

TEST(EndCommands, ClosesThePortEvenWithoutAnAcknowledgement) {
  CommandBench b;
  b.link.pager().Config().faults.push_back({Step::kCommandAck, FaultKind::kSilence});
  const uint64_t start = b.link.NowMs();
  EXPECT_EQ(Outcome(b.proto.DoEndCommands(), b.proto), "fail 14");
  EXPECT_EQ(b.link.Trace(), "W:12 SetTimeout(5000) R!7 SetTimeout(2000) Close");
  EXPECT_EQ(b.link.NowMs() - start, 5000u);
  EXPECT_FALSE(b.link.IsOpen());
}

TEST(EndCommands, UnsentLeaveByteKeepsThePortOpen) {
  CommandBench b;
  b.link.FailOn(CallKind::kWrite, tarn::kChannelWriteFailed);
  EXPECT_EQ(Outcome(b.proto.DoEndCommands(), b.proto), "fail 8");
  EXPECT_EQ(b.link.Trace(), "W:12!6");
  EXPECT_TRUE(b.link.IsOpen());
}

TEST(EndCommands, CloseFailureIsNotReported) {
  CommandBench b;
  b.link.FailOn(CallKind::kClose, tarn::kChannelControlFailed);
  EXPECT_EQ(b.proto.DoEndCommands(), kResultOk);
  EXPECT_EQ(b.proto.lastError, 0);
}

TEST(Probe, FirstOperationAfterConstructionLosesTheAnswerToEchoCancelling) {
  // No wake-up has turned echo cancelling off: the pager's '.' is read back
  // as the echo of 0x0B, and nothing more comes within the 100 ms timeout.
  Bench b;
  EXPECT_EQ(Outcome(b.proto.DoSendCommand0B(), b.proto), "false 14");
  EXPECT_EQ(b.link.Trace(), "Open W:0B R:2E Delay(2000) R!7 Close");
  EXPECT_EQ(b.link.NowMs(), 2100u);
}

TEST(Probe, FirstOperationAfterConstructionWithASilentPager) {
  Bench b(ConfigWithFault({Step::kProbeAnswer, FaultKind::kSilence}));
  EXPECT_EQ(Outcome(b.proto.DoSendCommand0B(), b.proto), "false 14");
  // The missing echo fails the send: no pause, no second read.
  EXPECT_EQ(b.link.Trace(), "Open W:0B R!7 Close");
}

TEST(Probe, DotAfterAWakeUpIsSuccessAnyOtherByteIsNot) {
  Bench b;
  ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
  b.link.ClearCalls();
  EXPECT_EQ(b.proto.DoSendCommand0B(), kResultOk);
  EXPECT_EQ(b.link.Trace(), "Open W:0B Delay(2000) R:2E Close");
  EXPECT_EQ(b.proto.lastError, 0);

  b.link.pager().Config().probeAnswer = 0x15;
  EXPECT_EQ(Outcome(b.proto.DoSendCommand0B(), b.proto), "false 14");
}

TEST(Probe, EndsCommandModeLeftOpenByBeginCommands) {
  CommandBench b;
  EXPECT_EQ(b.proto.DoSendCommand0B(), kResultOk);
  EXPECT_EQ(b.link.Trace(), "Open W:0B Delay(2000) R:2E Close");
  EXPECT_FALSE(b.link.IsOpen());
  EXPECT_FALSE(b.link.pager().InCommandMode());
}

TEST(Probe, PortFailures) {
  {
    Bench b;
    b.link.FailOn(CallKind::kOpen, tarn::kChannelCantOpen);
    EXPECT_EQ(Outcome(b.proto.DoSendCommand0B(), b.proto), "fail 3");
    EXPECT_EQ(b.link.Trace(), "Open!1");
  }
  {
    Bench b;
    ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
    b.link.FailOn(CallKind::kClose, tarn::kChannelControlFailed);
    EXPECT_EQ(Outcome(b.proto.DoSendCommand0B(), b.proto), "fail 6");
  }
}

}  // namespace
}  // namespace protocol_test
