// The protocol where the pager or the line lets it down half-way: wrong
// acknowledgements, failures of single bytes in every phase, a line that
// echoes everything, refusals before the data phase. Each case asserts the
// result, the error and what did not happen afterwards (no further bytes,
// no long waits, fields left alone), in virtual time.
#include <cstring>
#include <functional>

#include "protocol_test_util.h"

namespace protocol_test {
namespace {

// The simulated link, plus two things the plain one lacks: an action that
// runs right after the host's n-th successful read (to change the pager's
// behaviour between two exchanges of one operation), and a stop for runaway
// loops (every write past the limit fails, so a protocol that never gives up
// ends with the wrong error instead of hanging the test).
class ScriptedLink : public pagersim::SimLink {
 public:
  static constexpr unsigned kWriteLimit = 200;
  using SimLink::SimLink;

  void AfterReads(unsigned n, std::function<void()> action) {
    actionAt_ = reads_ + n;
    action_ = std::move(action);
  }
  uint8_t GetByte() override {
    uint8_t byte = SimLink::GetByte();
    if (++reads_ == actionAt_ && action_) action_();
    return byte;
  }
  void PutByte(uint8_t byte) override {
    if (++writes_ > kWriteLimit) throw tarn::GeneralException(tarn::kChannelWriteFailed);
    SimLink::PutByte(byte);
  }

 private:
  unsigned reads_ = 0;
  unsigned writes_ = 0;
  unsigned actionAt_ = 0;
  std::function<void()> action_;
};

struct Rig {
  explicit Rig(PagerConfig config = DefaultConfig()) : link(std::move(config)) {
    link.Initialize();
    link.SetTimeout(100);
    link.SetEchoCancel(true);
    link.ClearCalls();
    proto.SetClock(&VirtualClock, &link);
  }
  // The trace from the first occurrence of `from` on.
  std::string TraceFrom(const std::string& from) const {
    const std::string trace = link.Trace();
    const size_t at = trace.find(from);
    return at == std::string::npos ? "<" + from + " not in: " + trace + ">" : trace.substr(at);
  }
  ScriptedLink link;
  CPagerProtocol proto{&link};
};

const Bytes kHeaderWrite10 = {0x86, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0A};

// Reads of a transfer transaction up to and including its verdict: the wake
// answer, 16 + 20 answer bytes, the status and the verdict.
constexpr unsigned kReadsThroughVerdict = 1 + 16 + 20 + 1 + 1;

// ---------------------------------------------------------------- acknowledgements

TEST(WriteAcknowledgements, RefusedSecondAcknowledgementFailsWithoutTheSettlingPause) {
  Rig r(ConfigWithFault({Step::kSecondAck, FaultKind::kWrongByte, 0x15}));
  std::vector<uint8_t> data(100, 1);
  EXPECT_EQ(Outcome(r.proto.DoWriteMemory(0, data.data(), 100), r.proto), "fail 14");
  EXPECT_EQ(
      r.TraceFrom("SetTimeout(60000)"),
      Join({"SetTimeout(60000) R:06", Repeat("Delay(9)", 50), "R:15 SetTimeout(2000) Close"}));
}

TEST(ActivateAcknowledgement, RefusalFailsWithoutIdentifyingAgain) {
  Rig r(ConfigWithFault({Step::kActivateAck, FaultKind::kWrongByte, 0x15}));
  EXPECT_EQ(Outcome(r.proto.DoActivate(), r.proto), "fail 14");
  EXPECT_EQ(r.TraceFrom("SetTimeout(120000)"), "SetTimeout(120000) R:15 SetTimeout(2000) Close");
  EXPECT_EQ(r.link.Written().size(), 1u + 8);  // one wake byte, one header
}

TEST(ActivateAcknowledgement, ResultIsThatOfTheIdentificationThatFollows) {
  {
    SCOPED_TRACE("pager silent after acknowledging");
    Rig r;
    r.link.AfterReads(kReadsThroughVerdict + 1, [&] {
      r.link.pager().Config().ignoreWakes = r.link.pager().Stats().wakeBytes + 100;
    });
    EXPECT_EQ(Outcome(r.proto.DoActivate(), r.proto), "fail 10");
    EXPECT_EQ(r.link.Written().size(), 1u + 8 + 10);
    EXPECT_FALSE(r.link.IsOpen());
  }
  {
    SCOPED_TRACE("pager disabled after acknowledging");
    PagerConfig config = DefaultConfig();
    pagersim::PagerIdentity after = config.identity;
    after.status = 'D';
    config.identityAfterActivate = after;
    Rig r(config);
    EXPECT_EQ(Outcome(r.proto.DoActivate(), r.proto), "false 11");
    EXPECT_EQ(r.proto.statusChar, 'D');
    EXPECT_FALSE(r.link.IsOpen());
  }
}

// ---------------------------------------------------------------- refusals before the data

TEST(Refusals, WriteAndActivateSendNoDataAndWaitForNothing) {
  PagerConfig refusing = DefaultConfig('Y');
  refusing.password.fill(0x5A);  // the protocol's password is still all zeros
  const uint8_t data[10] = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49};
  const std::string password = W(Bytes(10, 0x00));
  {
    SCOPED_TRACE("write, wrong password");
    Rig r(refusing);
    EXPECT_EQ(Outcome(r.proto.DoWriteMemory(0x0100, data, 10), r.proto), "false 12");
    EXPECT_EQ(r.link.Trace(), Join({"Open", kWake, W(kHeaderWrite10), "Delay(5)", Answers('Y'),
                                    password, "Delay(5) R:15 Close"}));
  }
  {
    SCOPED_TRACE("activate, wrong password");
    Rig r(refusing);
    EXPECT_EQ(Outcome(r.proto.DoActivate(), r.proto), "false 12");
    EXPECT_EQ(r.TraceFrom("R:59"), Join({"R:59", password, "Delay(5) R:15 Close"}));
  }
  {
    SCOPED_TRACE("write, disabled pager");
    Rig r(DefaultConfig('D'));
    EXPECT_EQ(Outcome(r.proto.DoWriteMemory(0x0100, data, 10), r.proto), "false 11");
    EXPECT_EQ(r.link.Trace(),
              Join({"Open", kWake, W(kHeaderWrite10), "Delay(5)", Answers('D'), "Close"}));
  }
  {
    SCOPED_TRACE("activate, disabled pager");
    Rig r(DefaultConfig('D'));
    EXPECT_EQ(Outcome(r.proto.DoActivate(), r.proto), "false 11");
    EXPECT_EQ(r.TraceFrom("R:44"), "R:44 Close");
  }
}

// ---------------------------------------------------------------- single bytes that fail

TEST(FailedBytes, DataByteEndsTheWriteAtOnce) {
  Rig r;
  const uint8_t data[10] = {0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49};
  r.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout, 1 + 8 + 4);
  EXPECT_EQ(Outcome(r.proto.DoWriteMemory(0x0100, data, 10), r.proto), "fail 8");
  EXPECT_EQ(r.TraceFrom("R:BB"), "R:BB W:40 W:41 W:42 W:43!8 Close");
}

TEST(FailedBytes, CommandBlockByteEndsTheCommandWithoutWaitingForItsAnswer) {
  Rig r;
  ASSERT_EQ(r.proto.DoBeginCommands(), kResultOk);
  r.link.ClearCalls();
  r.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout, 3);
  EXPECT_EQ(Outcome(r.proto.DoSendCommand42(0x01020304), r.proto), "fail 8");
  EXPECT_EQ(r.link.Trace(), "W:42 W:04 W:03!8");
  EXPECT_TRUE(r.link.IsOpen());
}

TEST(FailedBytes, HeaderByteOfCommandModeIsErrorElevenWithThePortOpen) {
  Rig r;
  r.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout, 3);
  EXPECT_EQ(Outcome(r.proto.DoBeginCommands(), r.proto), "fail 11");
  EXPECT_EQ(r.link.Trace(), Join({"Open", kWake, "W:80 W:09!8"}));
  EXPECT_TRUE(r.link.IsOpen());
}

TEST(FailedBytes, ReceivesLeaveRecordsAndStatusAsTheyWere) {
  {
    SCOPED_TRACE("second record");
    Rig r;
    std::memset(r.proto.firstRecord, 0x77, 10);
    std::memset(r.proto.secondRecord, 0x78, 10);
    r.link.FailOn(CallKind::kRead, tarn::kChannelReadFailed, 1 + 16 + 12);
    EXPECT_EQ(Outcome(r.proto.DoIdentify(), r.proto), "fail 8");
    EXPECT_EQ(Bytes(r.proto.firstRecord, r.proto.firstRecord + 10), Bytes(10, 0x77));
    EXPECT_EQ(Bytes(r.proto.secondRecord, r.proto.secondRecord + 10), Bytes(10, 0x78));
  }
  {
    SCOPED_TRACE("status");
    Rig r;
    r.proto.statusChar = 'Q';
    r.proto.statusOk = 5;
    r.link.FailOn(CallKind::kRead, tarn::kChannelReadFailed, 1 + 16 + 20 + 1);
    EXPECT_EQ(Outcome(r.proto.DoIdentify(), r.proto), "fail 8");
    EXPECT_EQ(r.proto.statusChar, 'Q');
    EXPECT_EQ(r.proto.statusOk, 5);
    EXPECT_EQ(Bytes(r.proto.secondRecord, r.proto.secondRecord + 10), Range(0x30, 10));
  }
}

// ---------------------------------------------------------------- the wake-up and command mode

TEST(WakeUpEcho, LineThatEchoesEveryWakeByteUsesUpTheTenAttempts) {
  PagerConfig config = DefaultConfig();
  config.ignoreWakes = 1000;
  config.faults.push_back({Step::kWakeAnswer, FaultKind::kEcho, 0, 0});
  Rig r(config);
  EXPECT_EQ(Outcome(r.proto.DoIdentify(), r.proto), "fail 10");
  EXPECT_EQ(r.link.Written(), Bytes(10, 0xAA));
  EXPECT_EQ(r.link.ReadBytes(), Bytes(10, 0xAA));
  EXPECT_FALSE(r.link.IsOpen());
}

TEST(BytePair, ResultIsThatOfTheSecondAcknowledgement) {
  Rig r;
  ASSERT_EQ(r.proto.DoBeginCommands(), kResultOk);
  r.link.ClearCalls();
  r.link.AfterReads(1, [&] {
    r.link.pager().Config().faults.push_back({Step::kCommandAck, FaultKind::kWrongByte, 0x15});
  });
  EXPECT_EQ(Outcome(r.proto.DoSendBytePair(0x101, 0x202), r.proto), "fail 14");
  EXPECT_EQ(
      r.link.Trace(),
      "W:01 SetTimeout(5000) R:2E SetTimeout(2000) W:02 SetTimeout(5000) R:15 SetTimeout(2000)");
}

}  // namespace
}  // namespace protocol_test
