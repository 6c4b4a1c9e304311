// The memory operations: identify, read, write, activate, and the common
// frame around them (open, transaction, data phase, close).
#include <cstring>
#include <utility>

#include "protocol_test_util.h"

namespace protocol_test {
namespace {

const std::string kWriteAcksNoPause =
    Join({"SetTimeout(60000) R:06", Repeat("Delay(0)", 50), "R:06 SetTimeout(2000) Delay(3000)"});

TEST(Identify, FillsTheFieldsFromTheAnswers) {
  Bench b;
  b.proto.passwordReply = 0x15;
  b.proto.transferBuffer = b.proto.paramBlock;
  EXPECT_EQ(b.proto.DoIdentify(), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, W({0x87, 0x01, 0, 0, 0, 0, 0, 0}), "Delay(5)",
                                  Answers('O'), "Delay(5) Close"}));
  EXPECT_EQ(b.proto.pagerType, 0x8B);
  EXPECT_EQ(Bytes(b.proto.infoBlock, b.proto.infoBlock + 16), Range(0x10, 16));
  EXPECT_EQ(b.proto.infoLastByte, 0x1F);
  EXPECT_EQ(Bytes(b.proto.firstRecord, b.proto.firstRecord + 10), Range(0x20, 10));
  EXPECT_EQ(Bytes(b.proto.secondRecord, b.proto.secondRecord + 10), Range(0x30, 10));
  EXPECT_EQ(b.proto.statusChar, 'O');
  EXPECT_EQ(b.proto.statusOk, 1);
  EXPECT_EQ(b.proto.passwordReply, 0xFF);
  EXPECT_EQ(b.proto.optionByte, 0);
  EXPECT_EQ(b.proto.transferBuffer, b.proto.paramBlock);  // identify leaves it
  EXPECT_EQ(b.proto.lastError, 0);
  EXPECT_FALSE(b.link.IsOpen());
  EXPECT_TRUE(b.link.pager().Violations().empty());
}

TEST(Identify, DisabledPagerIsErrorElevenWithThePortClosed) {
  Bench b(DefaultConfig('D'));
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "false 11");
  EXPECT_EQ(b.proto.statusChar, 'D');
  EXPECT_FALSE(b.link.IsOpen());
  EXPECT_EQ(b.link.Calls().back().kind, CallKind::kClose);
}

TEST(ReadMemory, FourBytesAt0x0100ByteForByte) {
  Bench b;
  const Bytes data = {0xDE, 0xAD, 0xBE, 0xEF};
  std::memcpy(&b.link.pager().Memory()[0x0100], data.data(), 4);
  uint8_t buffer[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(b.proto.DoReadMemory(0x0100, buffer, 4), kResultOk);
  EXPECT_EQ(b.link.Written(), (Bytes{0xAA, 0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}));
  EXPECT_EQ(b.link.Trace(),
            Join({"Open", kWake, W({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}), "Delay(5)",
                  Answers('O'), "Delay(5) R:BB", R(data), "Close"}));
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0xEE, 0xEE}));
  EXPECT_EQ(b.proto.frameParam1, 0x0100);
  EXPECT_EQ(b.proto.frameLength, 4);
  EXPECT_EQ(b.proto.passwordReply, 0xFF);
  EXPECT_EQ(b.link.GetTimeout(), 2000u);
  EXPECT_TRUE(b.link.pager().Violations().empty());
}

TEST(ReadMemory, LengthZeroRunsTheTransactionOnly) {
  Bench b;
  uint8_t buffer[1] = {0xEE};
  EXPECT_EQ(b.proto.DoReadMemory(0x0300, buffer, 0), kResultOk);
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, W({0x86, 0x01, 0x03, 0x00, 0, 0, 0, 0}),
                                  "Delay(5)", Answers('O'), "Delay(5) R:BB Close"}));
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST(WriteMemory, TwoBytesAt0x0200ByteForByte) {
  Bench b;
  const uint8_t data[] = {0x12, 0x34};
  EXPECT_EQ(b.proto.DoWriteMemory(0x0200, data, 2), kResultOk);
  EXPECT_EQ(b.link.Written(),
            (Bytes{0xAA, 0x86, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x12, 0x34, 0x46}));
  EXPECT_EQ(b.link.Trace(),
            Join({"Open", kWake, W({0x86, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02}), "Delay(5)",
                  Answers('O'), "Delay(5) R:BB W:12 W:34 W:46", kWriteAcksNoPause, "Close"}));
  EXPECT_EQ(b.link.pager().Memory()[0x0200], 0x12);
  EXPECT_EQ(b.link.pager().Memory()[0x0201], 0x34);
  EXPECT_EQ(b.proto.frameParam2, 0);
  EXPECT_EQ(b.link.GetTimeout(), 2000u);  // the 60 s wait was undone
  EXPECT_TRUE(b.link.pager().Violations().empty());
}

TEST(WriteMemory, HundredBytesPauseFiftyTimesNineMilliseconds) {
  Bench b;
  std::vector<uint8_t> data(100);
  for (int i = 0; i < 100; ++i) data[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(b.proto.DoWriteMemory(0x4000, data.data(), 100), kResultOk);
  std::vector<uint32_t> expected = {100, 100, 5, 5};
  expected.insert(expected.end(), 50, 9);
  expected.push_back(3000);
  EXPECT_EQ(b.link.Delays(), expected);
  const std::string trace = b.link.Trace();
  EXPECT_NE(trace.find(Join({"R:06", Repeat("Delay(9)", 50),
                             "R:06 SetTimeout(2000) Delay(3000) "
                             "Close"})),
            std::string::npos)
      << trace;
  EXPECT_EQ(0, std::memcmp(&b.link.pager().Memory()[0x4000], data.data(), 100));
}

TEST(WriteMemory, TenBytesHaveNoPacingButStillFiftyReports) {
  Bench b;
  b.proto.progressSink = &b.sink;
  const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(b.proto.DoWriteMemory(0x0010, data, 10), kResultOk);
  std::vector<int32_t> expected = {0};  // after data byte 0
  for (int p = 45; p <= 94; ++p) expected.push_back(p);
  EXPECT_EQ(b.sink.percents, expected);
  // 200 ms after the one data report; the 50 pacing pauses are 0 ms.
  EXPECT_EQ(b.link.TotalDelayMs(), 100u + 100 + 5 + 5 + 200 + 3000);
}

TEST(WriteMemory, ProgressDuringDataAndPacing) {
  Bench b;
  b.proto.progressSink = &b.sink;
  std::vector<uint8_t> data(1024, 0x5A);
  EXPECT_EQ(b.proto.DoWriteMemory(0x8000, data.data(), 1024), kResultOk);
  std::vector<int32_t> expected = {0, 12, 25};
  for (int p = 45; p <= 94; ++p) expected.push_back(p);
  EXPECT_EQ(b.sink.percents, expected);
  // t = 1024 * 1000 / 10240 = 100 ms after each pacing report.
  for (size_t k = 3; k < expected.size(); ++k) {
    const auto& call = b.link.Calls()[b.sink.callIndex[k]];
    EXPECT_EQ(call.kind, CallKind::kDelay);
    EXPECT_EQ(call.value, 100u);
  }
  EXPECT_EQ(b.link.TotalDelayMs(), 210u + 3 * 200 + 50 * 100 + 3000);
}

TEST(WriteMemory, WrongFirstAcknowledgementIsErrorFourteenWithoutSecondWait) {
  Bench b(ConfigWithFault({Step::kFirstAck, FaultKind::kWrongByte, 0x15}));
  std::vector<uint8_t> data(100, 1);
  EXPECT_EQ(Outcome(b.proto.DoWriteMemory(0, data.data(), 100), b.proto), "fail 14");
  const std::string trace = b.link.Trace();
  EXPECT_EQ(trace.substr(trace.find("SetTimeout(60000)")),
            "SetTimeout(60000) R:15 SetTimeout(2000) Close");
  EXPECT_EQ(b.link.Delays(), (std::vector<uint32_t>{100, 100, 5, 5}));
  EXPECT_EQ(b.link.GetTimeout(), 2000u);
}

TEST(WriteMemory, MissingSecondAcknowledgementTimesOutAfterSixtySeconds) {
  Bench b(ConfigWithFault({Step::kSecondAck, FaultKind::kSilence}));
  std::vector<uint8_t> data(100, 1);
  EXPECT_EQ(Outcome(b.proto.DoWriteMemory(0, data.data(), 100), b.proto), "fail 14");
  const std::string trace = b.link.Trace();
  EXPECT_NE(trace.find(Join({Repeat("Delay(9)", 50), "R!7 SetTimeout(2000) Close"})),
            std::string::npos)
      << trace;
  EXPECT_EQ(b.link.Delays().back(), 9u);  // no settling pause after a failure
  EXPECT_EQ(b.link.GetTimeout(), 2000u);
}

TEST(WriteMemory, FullBlockBothWaysInVirtualTime) {
  Bench b;
  std::vector<uint8_t> image(65535);
  uint32_t seed = 12345;
  for (auto& byte : image) {
    seed = seed * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  EXPECT_EQ(b.proto.DoWriteMemory(0x0000, image.data(), 65535), kResultOk);
  // t = 65535 * 1000 / 10240 = 6399 ms: about 320 s of pacing.
  const std::vector<uint32_t> delays = b.link.Delays();
  ASSERT_EQ(delays.size(), 4u + 50 + 1);
  for (size_t k = 4; k < 54; ++k) ASSERT_EQ(delays[k], 6399u);
  EXPECT_EQ(b.link.TotalDelayMs(), 210u + 50 * 6399 + 3000);
  EXPECT_EQ(b.link.Written().back(), b.proto.checksum);
  EXPECT_TRUE(b.link.pager().Violations().empty());
  EXPECT_EQ(0, std::memcmp(b.link.pager().Memory().data(), image.data(), 65535));

  std::vector<uint8_t> back(65535, 0);
  EXPECT_EQ(b.proto.DoReadMemory(0x0000, back.data(), 65535), kResultOk);
  EXPECT_EQ(back, image);
  EXPECT_EQ(b.proto.stream.Capacity(), 100000u);  // the largest block needs no growth
}

TEST(Activate, AcknowledgedActivationIdentifiesThePagerAgain) {
  PagerConfig config = DefaultConfig();
  config.activateDelayMs = 90000;
  pagersim::PagerIdentity after = config.identity;
  after.infoBlock.fill(0x61);
  after.firstRecord.fill(0x62);
  after.secondRecord.fill(0x63);
  after.status = 'Z';
  config.identityAfterActivate = after;
  Bench b(config);
  EXPECT_EQ(b.proto.DoActivate(), kResultOk);
  Bytes answers(16, 0x61);
  answers.insert(answers.end(), 10, 0x62);
  answers.insert(answers.end(), 10, 0x63);
  answers.push_back('Z');
  EXPECT_EQ(
      b.link.Trace(),
      Join({"Open", kWake, W({0x86, 0x0C, 0, 0, 0, 0, 0, 0}), "Delay(5)", Answers('O'),
            "Delay(5) R:BB SetTimeout(120000) R:06 SetTimeout(2000)", "Open", kWake,
            W({0x9F, 0x01, 0, 0, 0, 0, 0, 0}), "Delay(5)", R(answers), "Delay(5) Close Close"}));
  // The pager sent its verdict at 200 ms and the acknowledgement 90 s later;
  // the re-identification then takes another 210 ms.
  EXPECT_EQ(b.link.NowMs(), 200u + 90000 + 210);
  EXPECT_EQ(b.proto.statusChar, 'Z');
  EXPECT_EQ(b.proto.statusOk, 0);
  EXPECT_EQ(Bytes(b.proto.infoBlock, b.proto.infoBlock + 16), Bytes(16, 0x61));
  EXPECT_EQ(b.proto.infoLastByte, 0x61);
  EXPECT_EQ(Bytes(b.proto.firstRecord, b.proto.firstRecord + 10), Bytes(10, 0x62));
  EXPECT_EQ(Bytes(b.proto.secondRecord, b.proto.secondRecord + 10), Bytes(10, 0x63));
  EXPECT_EQ(b.proto.frameFlags, 0x9F);
  EXPECT_FALSE(b.link.IsOpen());
}

TEST(Activate, NoAcknowledgementWithinTwoMinutesIsErrorFourteen) {
  Bench b(ConfigWith([](PagerConfig& c) { c.activateDelayMs = 121000; }));
  EXPECT_EQ(Outcome(b.proto.DoActivate(), b.proto), "fail 14");
  const std::string trace = b.link.Trace();
  EXPECT_EQ(trace.substr(trace.find("SetTimeout(120000)")),
            "SetTimeout(120000) R!7 SetTimeout(2000) Close");
  EXPECT_EQ(b.link.NowMs(), 210u + 120000);
}

TEST(Frame, PortThatCannotBeOpenedIsErrorThreeAndNothingElse) {
  // A framed operation and the start of command mode alike.
  const std::pair<const char*, int32_t (CPagerProtocol::*)()> operations[] = {
      {"identify", &CPagerProtocol::DoIdentify},
      {"begin commands", &CPagerProtocol::DoBeginCommands},
  };
  for (const auto& [name, operation] : operations) {
    SCOPED_TRACE(name);
    Bench b;
    b.link.FailOn(CallKind::kOpen, tarn::kChannelCantOpen);
    EXPECT_EQ(Outcome((b.proto.*operation)(), b.proto), "fail 3");
    EXPECT_EQ(b.link.Trace(), "Open!1");
  }
}

TEST(Frame, CloseFailureReplacesTheResultEvenAfterASuccessfulRead) {
  Bench b;
  b.link.pager().Memory()[0x0100] = 0x99;
  b.link.FailOn(CallKind::kClose, tarn::kChannelControlFailed);
  uint8_t byte = 0;
  EXPECT_EQ(Outcome(b.proto.DoReadMemory(0x0100, &byte, 1), b.proto), "fail 6");
  EXPECT_EQ(byte, 0x99);  // the data did reach the client buffer
}

TEST(Frame, CloseFailureReplacesATransactionError) {
  Bench b(DefaultConfig('D'));
  b.link.FailOn(CallKind::kClose, tarn::kChannelControlFailed);
  EXPECT_EQ(Outcome(b.proto.DoIdentify(), b.proto), "fail 6");
}

TEST(Frame, ErrorsStayAfterALaterSuccess) {
  Bench b(DefaultConfig('D'));
  EXPECT_EQ(b.proto.DoIdentify(), kResultFalse);
  b.link.pager().Config().identity.status = 'O';
  EXPECT_EQ(b.proto.DoIdentify(), kResultOk);
  EXPECT_EQ(b.proto.lastError, 11);
  EXPECT_EQ(tarn::LookupError(b.proto.lastError).code, 12);
}

}  // namespace
}  // namespace protocol_test
