// The steps of a transaction: wake-up, header, answers, password and verdict,
// and the data blocks with their checksum and progress reports.
#include <cstring>

#include "protocol_test_util.h"

namespace protocol_test {
namespace {

// ---------------------------------------------------------------- wake-up

TEST(WakeUp, AnsweredAtTheFirstAttempt) {
  Bench b;
  b.link.Open();
  b.link.ClearCalls();
  ASSERT_TRUE(b.link.IsEchoCancel());
  EXPECT_EQ(b.steps.WakeUp().result, kResultOk);
  EXPECT_EQ(b.link.Trace(), kWake);
  EXPECT_EQ(b.proto.pagerType, 0x8B);
  EXPECT_FALSE(b.link.IsEchoCancel());
  EXPECT_EQ(b.link.GetTimeout(), 2000u);
}

TEST(WakeUp, EchoedWakeByteIsSkippedAndTheAnswerTakenLater) {
  Bench b(ConfigWithFault({Step::kWakeAnswer, FaultKind::kEcho, 0, 1}));
  b.OpenForSteps();
  EXPECT_EQ(b.steps.WakeUp().result, kResultOk);
  EXPECT_EQ(b.link.Trace(),
            "PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0) "
            "W:AA Delay(100) R:AA W:AA Delay(100) R:8B Delay(100) SetTimeout(2000)");
  EXPECT_EQ(b.proto.pagerType, 0x8B);
  // The retry got no second answer, which would be read as the first answer byte.
  EXPECT_EQ(b.link.PendingInput(), 0u);
}

TEST(WakeUp, PagerThatSleepsThroughSomeWakeBytes) {
  Bench b(ConfigWith([](PagerConfig& c) { c.ignoreWakes = 3; }));
  b.OpenForSteps();
  EXPECT_EQ(b.steps.WakeUp().result, kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0)",
                                  Repeat("W:AA Delay(100) R!7", 3),
                                  "W:AA Delay(100) R:8B Delay(100)", "SetTimeout(2000)"}));
}

TEST(WakeUp, SilentPagerGetsTenAttemptsThenErrorTen) {
  Bench b(ConfigWith([](PagerConfig& c) { c.ignoreWakes = 100; }));
  b.proto.pagerType = 0x55;
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 10");
  EXPECT_EQ(b.link.Trace(),
            Join({"Open PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0)",
                  Repeat("W:AA Delay(100) R!7", 10), "Delay(100) SetTimeout(2000) Close"}));
  // Ten times 100 ms of pause plus 100 ms of read timeout, then the last pause.
  EXPECT_EQ(b.link.NowMs(), 2100u);
  EXPECT_EQ(b.proto.pagerType, 0x55);  // no answer: the field is not touched
  EXPECT_FALSE(b.link.IsOpen());
}

TEST(WakeUp, UnsupportedAnswerIsErrorNineAtOnce) {
  Bench b(ConfigWith([](PagerConfig& c) { c.pagerType = 0x00; }));
  b.proto.pagerType = 0x8B;
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 9");
  EXPECT_EQ(b.proto.pagerType, 0);
  EXPECT_EQ(b.link.Trace(),
            "Open PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0) "
            "W:AA Delay(100) R:00 Close");
}

TEST(WakeUp, LineFailuresAreErrorEight) {
  {
    SCOPED_TRACE("read fails other than by silence");
    Bench b;
    b.link.FailOn(CallKind::kRead, tarn::kChannelReadFailed);
    EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 8");
    EXPECT_EQ(b.link.Written(), Bytes{0xAA});
  }
  {
    SCOPED_TRACE("wake byte not sent");
    Bench b;
    b.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout);
    EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 8");
    EXPECT_TRUE(b.link.Written().empty());
    EXPECT_EQ(b.link.Trace(),
              "Open PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0) "
              "W:AA!8 Delay(100) Close");
  }
}

// ---------------------------------------------------------------- header

TEST(Header, FieldsGoOutMostSignificantByteFirst) {
  Bench b;
  b.OpenForSteps();
  b.proto.frameFlags = 0x86;
  b.proto.frameCommand = 1;
  b.proto.frameParam1 = 0x1234;
  b.proto.frameParam2 = 0;
  b.proto.frameLength = 0x0100;
  EXPECT_EQ(b.steps.SendHeader().result, kResultOk);
  EXPECT_EQ(b.link.Written(), (Bytes{0x86, 0x01, 0x12, 0x34, 0x00, 0x00, 0x01, 0x00}));
  b.link.ClearCalls();
  b.proto.frameParam2 = 0xA1B2;
  b.proto.frameLength = 0xFFEE;
  EXPECT_EQ(b.steps.SendHeader().result, kResultOk);
  EXPECT_EQ(b.link.Written(), (Bytes{0x86, 0x01, 0x12, 0x34, 0xA1, 0xB2, 0xFF, 0xEE}));
}

TEST(Header, FirstFailedByteEndsTheStepWithErrorEleven) {
  Bench b;
  b.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout, 4);  // wake byte, then header 0..2
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 11");
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, "W:87 W:01 W:00!8 Close"}));
}

// ---------------------------------------------------------------- answers

TEST(Answers, FailedReceiveLeavesTheTargetFieldAsItWas) {
  Bench b;
  std::memset(b.proto.infoBlock, 0x77, 16);
  b.proto.infoLastByte = 0x66;
  // Read 1 is the wake answer, reads 2.. are the info block: fail at its byte 7.
  b.link.FailOn(CallKind::kRead, tarn::kChannelReadFailed, 9);
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 8");
  EXPECT_EQ(Bytes(b.proto.infoBlock, b.proto.infoBlock + 16), Bytes(16, 0x77));
  EXPECT_EQ(b.proto.infoLastByte, 0x66);
  EXPECT_FALSE(b.link.IsOpen());
}

TEST(Answers, OptionByteOnlyUnderItsFlag) {
  Bench b(ConfigWith([](PagerConfig& c) { c.optionByte = 0x5A; }));
  b.link.Open();
  ASSERT_EQ(b.steps.WakeUp().result, kResultOk);
  b.proto.frameFlags = 0xA1;  // option byte, status, no password exchange
  b.proto.frameCommand = 1;
  ASSERT_EQ(b.steps.SendHeader().result, kResultOk);
  b.link.ClearCalls();
  EXPECT_EQ(b.steps.ReceiveOptionByte().result, kResultOk);
  EXPECT_EQ(b.steps.ReceiveInfoBlock().result, kResultOk);
  EXPECT_EQ(b.steps.ReceiveRecords().result, kResultOk);
  EXPECT_EQ(b.steps.ReceiveStatus().result, kResultOk);
  EXPECT_EQ(b.link.Trace(), "R:5A R:4F");
  EXPECT_EQ(b.proto.optionByte, 0x5A);
  EXPECT_EQ(b.proto.statusChar, 'O');
}

TEST(Answers, StatusSetsStatusOkUnlessDisabled) {
  Bench b;
  ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
  EXPECT_EQ(b.proto.statusOk, 1);
  b.link.pager().Config().identity.status = 'X';
  ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
  EXPECT_EQ(b.proto.statusChar, 'X');
  EXPECT_EQ(b.proto.statusOk, 0);
  b.link.pager().Config().identity.status = 'O';
  ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
  b.link.pager().Config().identity.status = 'D';
  EXPECT_EQ(b.proto.DoIdentify(), kResultFalse);
  EXPECT_EQ(b.proto.statusChar, 'D');
  EXPECT_EQ(b.proto.statusOk, 1);  // 'D' leaves it as it was
}

// ---------------------------------------------------------------- password and verdict

TEST(Password, StatusYWithoutPasswordSendsTenZerosAndRefusalIsErrorTwelve) {
  PagerConfig config = DefaultConfig('Y');
  config.password = {'s', 'e', 'c', 'r', 'e', 't', '0', '0', '0', '0'};
  config.refusalByte = 0x15;
  Bench b(config);
  uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(Outcome(b.proto.DoReadMemory(0x0100, buffer, 4), b.proto), "false 12");
  EXPECT_EQ(b.proto.passwordReply, 0x15);
  EXPECT_EQ(b.link.Trace(),
            Join({"Open", kWake, W({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}), "Delay(5)",
                  Answers('Y'), W(Bytes(10, 0x00)), "Delay(5)", "R:15 Close"}));
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(4, 0xEE));  // no data phase
}

TEST(Password, AcceptedPasswordIsSentAsSetAndTheReadGoesOn) {
  PagerConfig config = DefaultConfig('Y');
  config.password = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Bench b(config);
  b.link.pager().Memory()[0x0100] = 0xC3;
  b.proto.passwordReply = 0x42;
  const uint8_t pw[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  b.proto.SetPassword(pw);
  b.proto.ClearPassword();  // the bytes stay and still go out
  uint8_t byte = 0;
  EXPECT_EQ(b.proto.DoReadMemory(0x0100, &byte, 1), kResultOk);
  EXPECT_EQ(b.link.Trace(),
            Join({"Open", kWake, W({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01}), "Delay(5)",
                  Answers('Y'), W(Range(1, 10)), "Delay(5) R:BB R:C3 Close"}));
  EXPECT_EQ(byte, 0xC3);
  EXPECT_EQ(b.proto.passwordReply, 0xFF);
}

TEST(Password, IdentifyWithStatusYSendsNoPasswordAndReadsNoVerdict) {
  Bench b(DefaultConfig('Y'));
  b.proto.passwordReply = 0x15;
  EXPECT_EQ(b.proto.DoIdentify(), kResultOk);
  EXPECT_EQ(b.proto.statusChar, 'Y');
  EXPECT_EQ(b.proto.passwordReply, 0xFF);
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, W({0x87, 0x01, 0, 0, 0, 0, 0, 0}), "Delay(5)",
                                  Answers('Y'), "Delay(5) Close"}));
}

TEST(Password, DisabledPagerUnderTransferFlagsEndsBeforePassword) {
  Bench b(DefaultConfig('D'));
  uint8_t buffer[2] = {0xEE, 0xEE};
  EXPECT_EQ(Outcome(b.proto.DoReadMemory(0x0200, buffer, 2), b.proto), "false 11");
  EXPECT_EQ(b.link.Trace(),
            Join({"Open", kWake, W({0x86, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02}), "Delay(5)",
                  Answers('D'), "Close"}));
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST(Password, PasswordAndVerdictLineFailuresAreErrorEight) {
  {
    SCOPED_TRACE("password byte not sent");
    Bench b(DefaultConfig('Y'));
    b.link.FailOn(CallKind::kWrite, tarn::kChannelWriteFailed, 1 + 8 + 3);
    uint8_t byte = 0;
    EXPECT_EQ(Outcome(b.proto.DoReadMemory(0, &byte, 1), b.proto), "fail 8");
    EXPECT_EQ(b.link.Written().size(), 1u + 8 + 2);
  }
  {
    SCOPED_TRACE("verdict not received");
    Bench b(ConfigWithFault({Step::kVerdict, FaultKind::kSilence}));
    b.proto.passwordReply = 0x33;
    uint8_t byte = 0;
    EXPECT_EQ(Outcome(b.proto.DoReadMemory(0, &byte, 1), b.proto), "fail 8");
    EXPECT_EQ(b.proto.passwordReply, 0x33);
    EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, W({0x86, 0x01, 0, 0, 0, 0, 0, 0x01}), "Delay(5)",
                                    Answers('O'), "Delay(5) R!7 Close"}));
  }
}

TEST(Verdict, NoneReadUnderNoPasswordFlagOrCommandNine) {
  Bench b;
  b.OpenForSteps();
  for (auto [flags, command] : {std::pair<uint8_t, uint8_t>{0x87, 1}, {0x80, 9}}) {
    b.proto.frameFlags = flags;
    b.proto.frameCommand = command;
    b.proto.passwordReply = 0x15;
    EXPECT_EQ(b.steps.ReceiveVerdict().result, kResultOk);
    EXPECT_EQ(b.proto.passwordReply, 0xFF);
  }
  EXPECT_TRUE(b.link.Calls().empty());
}

// ---------------------------------------------------------------- data blocks

TEST(DataBlock, ChecksumIsTheSumModulo256) {
  Bench b;
  uint8_t data[] = {0x10, 0x20, 0x30};
  b.OpenForData(data, 3);
  EXPECT_EQ(b.steps.SendDataBlock().result, kResultOk);
  EXPECT_EQ(b.link.Written(), (Bytes{0x10, 0x20, 0x30, 0x60}));
  b.link.ClearCalls();
  uint8_t wraps[] = {0xFF, 0xFF, 0xF6};  // sum 0x1F4
  b.proto.transferBuffer = wraps;
  EXPECT_EQ(b.steps.SendDataBlock().result, kResultOk);
  EXPECT_EQ(b.link.Written(), (Bytes{0xFF, 0xFF, 0xF6, 0xF4}));
  EXPECT_EQ(b.proto.checksum, 0xF4);
}

TEST(DataBlock, EmptyBlockWithProgressReportsZeroPercent) {
  Bench b;
  b.proto.progressSink = &b.sink;
  b.OpenForData(nullptr, 0);
  EXPECT_EQ(b.steps.SendDataBlock().result, kResultOk);
  EXPECT_EQ(b.link.Trace(), "W:00 Delay(200)");
  EXPECT_EQ(b.sink.percents, std::vector<int32_t>{0});
}

TEST(DataBlock, SendProgressFillsTheFirstQuarter) {
  Bench b;
  std::vector<uint8_t> data(1024, 0x01);
  b.proto.progressSink = &b.sink;
  b.OpenForData(data.data(), 1024);
  EXPECT_EQ(b.steps.SendDataBlock().result, kResultOk);
  // After bytes 0 and 512, and after the checksum byte (index 1024).
  EXPECT_EQ(b.sink.percents, (std::vector<int32_t>{0, 12, 25}));
  const auto& calls = b.link.Calls();
  const size_t write_index[] = {0, 512, 1024};
  for (size_t k = 0; k < 3; ++k) {
    // Each report follows its byte and is followed by a 200 ms pause.
    ASSERT_EQ(b.sink.callIndex[k], write_index[k] + 1 + k);
    EXPECT_EQ(calls[b.sink.callIndex[k]].kind, CallKind::kDelay);
    EXPECT_EQ(calls[b.sink.callIndex[k]].value, 200u);
  }
  EXPECT_EQ(b.link.TotalDelayMs(), 600u);
  EXPECT_EQ(b.link.Written().back(), 0x00);  // 1024 * 1 mod 256
}

TEST(DataBlock, ReadOf1500BytesReportsZeroThirtyFourSixtyEight) {
  Bench b;
  for (int i = 0; i < 1500; ++i) b.link.pager().Memory()[0x1000 + i] = static_cast<uint8_t>(i * 7);
  b.proto.progressSink = &b.sink;
  std::vector<uint8_t> buffer(1500);
  EXPECT_EQ(b.proto.DoReadMemory(0x1000, buffer.data(), 1500), kResultOk);
  EXPECT_EQ(b.sink.percents, (std::vector<int32_t>{0, 34, 68}));
  for (size_t k = 0; k < 3; ++k) {
    const auto& call = b.link.Calls()[b.sink.callIndex[k]];
    EXPECT_EQ(call.kind, CallKind::kDelay);
    EXPECT_EQ(call.value, 200u);
    // The report comes after the byte at 0, 512, 1024 was read.
    const auto& before = b.link.Calls()[b.sink.callIndex[k] - 1];
    EXPECT_EQ(before.kind, CallKind::kRead);
    EXPECT_EQ(before.value, static_cast<uint8_t>(512 * k * 7));
  }
  EXPECT_EQ(b.link.Delays(), (std::vector<uint32_t>{100, 100, 5, 5, 200, 200, 200}));
  for (int i = 0; i < 1500; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i * 7)) << i;
}

TEST(DataBlock, NoSinkMeansNoReportsAndNoProgressPauses) {
  Bench b;
  std::vector<uint8_t> buffer(1500);
  EXPECT_EQ(b.proto.DoReadMemory(0x1000, buffer.data(), 1500), kResultOk);
  EXPECT_EQ(b.link.Delays(), (std::vector<uint32_t>{100, 100, 5, 5}));
  EXPECT_TRUE(b.sink.percents.empty());
}

TEST(DataBlock, FailedReadLeavesTheClientBufferUntouched) {
  Bench b(ConfigWith([](PagerConfig& c) { c.stopAfterDataBytes = 2; }));
  uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(Outcome(b.proto.DoReadMemory(0x0100, buffer, 4), b.proto), "fail 8");
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(4, 0xEE));
  EXPECT_EQ(b.link.ReadBytes().size(), 1u + 37 + 1 + 2);
  EXPECT_FALSE(b.link.IsOpen());
}

TEST(DataBlock, FailedSendIsErrorEightAndStopsAtOnce) {
  Bench b;
  uint8_t data[] = {1, 2, 3};
  b.OpenForData(data, 3);
  b.link.FailOn(CallKind::kWrite, tarn::kChannelWriteTimeout, 2);
  const tarn::StepResult sent = b.steps.SendDataBlock();
  EXPECT_EQ(sent.result, kResultFail);
  EXPECT_EQ(sent.error, 8);
  EXPECT_EQ(b.proto.lastError, 0);  // stored by the operation, not by the step
  EXPECT_EQ(b.link.Trace(), "W:01 W:02!8");
}

}  // namespace
}  // namespace protocol_test
