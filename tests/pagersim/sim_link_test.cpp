// The in-process link: virtual time, recorded calls, failure hooks, echo
// cancelling, and the pager answering the host's byte sequences over it.
#include "tools/pagersim/sim_link.h"

#include <gtest/gtest.h>

#include <chrono>

#include "sample_pagers.h"

namespace pagersim {
namespace {

using Bytes = std::vector<uint8_t>;

using testsupport::SpreadIdentity;

PagerConfig Config(uint8_t status = 'O') {
  PagerConfig config;
  config.identity = SpreadIdentity(status);
  return config;
}

Bytes ReadN(SimLink& link, size_t n) {
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.push_back(link.ReadByte());
  return out;
}

// The host's wake-up as the protocol does it; returns the byte that ended it
// (0 when no answer came).
uint8_t WakeUp(SimLink& link) {
  link.PurgeInput();
  link.PurgeOutput();
  link.SetTimeout(100);
  link.SetEchoCancel(false);
  uint8_t answer = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    link.WriteByte(0xAA);
    link.Delay(100);
    try {
      uint8_t b = link.ReadByte();
      if (b == 0xAA) continue;
      answer = b;
      break;
    } catch (const tarn::GeneralException& e) {
      if (e.GetCode() != 7) throw;
    }
  }
  link.Delay(100);
  link.SetTimeout(2000);
  return answer;
}

void SendHeader(SimLink& link, uint8_t flags, uint8_t command, uint16_t address, uint16_t length) {
  for (uint8_t b :
       Bytes{flags, command, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0,
             0, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)})
    link.WriteByte(b);
  link.Delay(5);
}

TEST(SimLink, ReadOfFourBytesAt0100WithTheExactCalls) {
  SimLink link(Config());
  for (int i = 0; i < 4; ++i) link.pager().Memory()[0x100 + i] = static_cast<uint8_t>(0xC0 + i);
  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  SendHeader(link, 0x86, 0x01, 0x0100, 4);
  Bytes answers = ReadN(link, 16 + 20 + 1);
  link.Delay(5);  // after the (skipped) password step
  EXPECT_EQ(link.ReadByte(), 0xBB);
  EXPECT_EQ(ReadN(link, 4), (Bytes{0xC0, 0xC1, 0xC2, 0xC3}));
  link.Close();

  EXPECT_EQ(answers.back(), 'O');
  EXPECT_EQ(link.Written(), (Bytes{0xAA, 0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}));
  const std::string trace = link.Trace();
  EXPECT_TRUE(trace.starts_with(
      "Open PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0) W:AA Delay(100) R:8B "
      "Delay(100) SetTimeout(2000) W:86 W:01 W:01 W:00 W:00 W:00 W:00 W:04 Delay(5) R:10"))
      << trace;
  EXPECT_TRUE(trace.ends_with("R:4F Delay(5) R:BB R:C0 R:C1 R:C2 R:C3 Close")) << trace;
  EXPECT_EQ(link.TotalDelayMs(), 100u + 100u + 5u + 5u);
  EXPECT_EQ(link.NowMs(), 210u);  // no time passes but the pauses
  EXPECT_TRUE(link.pager().Violations().empty());
}

TEST(SimLink, FullWriteWithItsPacingRunsInVirtualTime) {
  SimLink link(Config());
  Bytes data(65535);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  const auto started = std::chrono::steady_clock::now();

  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  SendHeader(link, 0x86, 0x02, 0x0000, 65535);
  ReadN(link, 37);
  link.Delay(5);
  ASSERT_EQ(link.ReadByte(), 0xBB);
  uint8_t sum = 0;
  for (uint8_t b : data) {
    link.WriteByte(b);
    sum = static_cast<uint8_t>(sum + b);
  }
  link.WriteByte(sum);
  const uint32_t previous = link.SetTimeout(60000);
  ASSERT_EQ(link.ReadByte(), 0x06);
  const uint64_t firstAckMs = link.NowMs();
  const uint32_t t = 65535u * 1000u / 10240u;  // 6399 ms
  for (int p = 45; p < 95; ++p) {
    // The second ack is not on the line before the whole pacing has passed.
    EXPECT_EQ(link.PendingInput(), 0u);
    link.Delay(t);
  }
  EXPECT_EQ(link.ReadByte(), 0x06);
  EXPECT_EQ(link.NowMs(), firstAckMs + 50 * t);
  link.SetTimeout(previous);
  link.Delay(3000);
  link.Close();

  EXPECT_TRUE(std::equal(data.begin(), data.end(), link.pager().Memory().begin()));
  EXPECT_EQ(link.pager().Stats().writes, 1u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(SimLink, ReadWaitsUpToTheTimeoutForALateByteAndFailsWithCode7After) {
  PagerConfig config = Config();
  config.activateDelayMs = 30000;
  config.identityAfterActivate = SpreadIdentity('A');
  SimLink link(config);
  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  const uint64_t headerMs = link.NowMs();
  SendHeader(link, 0x86, 12, 0, 0);
  ReadN(link, 37);
  link.Delay(5);
  ASSERT_EQ(link.ReadByte(), 0xBB);
  link.SetTimeout(120000);
  EXPECT_EQ(link.ReadByte(), 0x06);
  // The pager counts its delay from the command; the read returns as soon
  // as the byte comes.
  EXPECT_EQ(link.NowMs(), headerMs + 30000);
  link.SetTimeout(2000);
  // Re-identification brings the new identity.
  ASSERT_EQ(WakeUp(link), 0x8B);
  SendHeader(link, 0x9F, 1, 0, 0);
  EXPECT_EQ(ReadN(link, 37).back(), 'A');

  const uint64_t quiet = link.NowMs();
  try {
    link.ReadByte();
    FAIL() << "no byte should be there";
  } catch (const tarn::GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 7);
  }
  EXPECT_EQ(link.NowMs(), quiet + 2000);
  EXPECT_EQ(link.Calls().back().failure, 7);
}

TEST(SimLink, SilentPagerCostsTenAttemptsOfDelayAndTimeout) {
  PagerConfig config = Config();
  config.faults = {{Step::kWakeAnswer, FaultKind::kSilence, 0, 0}};
  SimLink link(config);
  link.Open();
  EXPECT_EQ(WakeUp(link), 0);
  EXPECT_EQ(link.NowMs(), 10u * (100 + 100) + 100);
  EXPECT_EQ(link.pager().Stats().wakeBytes, 10u);
}

TEST(SimLink, EchoingLineIsSkippedByTheWakeUp) {
  PagerConfig config = Config();
  config.ignoreWakes = 1;
  config.faults = {{Step::kWakeAnswer, FaultKind::kEcho, 0, 1}};
  SimLink link(config);
  link.Open();
  EXPECT_EQ(WakeUp(link), 0x8B);
  EXPECT_EQ(link.ReadBytes(), (Bytes{0xAA, 0x8B}));
}

TEST(SimLink, EchoCancellingReadsOneByteBackAsTheBaseClassDoes) {
  PagerConfig config = Config();
  config.faults = {{Step::kAny, FaultKind::kEcho, 0, 0}};
  SimLink echoing(config);
  echoing.Open();  // echo cancelling is on from construction
  echoing.WriteByte(0xAA);
  EXPECT_EQ(echoing.ReadByte(), 0x8B);  // the echo was taken by the write
  EXPECT_EQ(echoing.Trace(), "Open W:AA R:AA R:8B");

  // On a line that does not echo, the probe's write takes the pager's answer
  // as its echo, and the read after the pause finds nothing.
  SimLink quiet(Config());
  quiet.SetTimeout(100);
  quiet.Open();
  quiet.WriteByte(0x0B);
  quiet.Delay(2000);
  EXPECT_THROW(quiet.ReadByte(), tarn::GeneralException);
  EXPECT_EQ(quiet.Trace(), "SetTimeout(100) Open W:0B R:2E Delay(2000) R!7");

  // Nothing comes back at all: the write fails with code 7 after the timeout.
  SimLink mute(Config());
  mute.SetTimeout(100);
  mute.Open();
  try {
    mute.WriteByte(0x55);
    FAIL();
  } catch (const tarn::GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 7);
  }
  EXPECT_EQ(mute.NowMs(), 100u);
  EXPECT_EQ(mute.Written(), Bytes{0x55});  // the byte went out all the same
}

TEST(SimLink, FailureHooksAndClosedChannel) {
  SimLink link(Config());
  link.FailOn(CallKind::kOpen, 1);
  EXPECT_THROW(link.Open(), tarn::GeneralException);
  EXPECT_FALSE(link.IsOpen());
  link.Open();  // the hook fired once
  EXPECT_TRUE(link.IsOpen());

  link.FailOn(CallKind::kClose, 3, 0);
  for (int i = 0; i < 2; ++i) {
    try {
      link.Close();
      FAIL();
    } catch (const tarn::GeneralException& e) {
      EXPECT_EQ(e.GetCode(), 3);
    }
  }
  EXPECT_TRUE(link.IsOpen());
  link.ClearFailures();
  link.Close();
  EXPECT_FALSE(link.IsOpen());

  link.FailOn(CallKind::kDelay, 9, 2);
  link.Delay(1);
  EXPECT_THROW(link.Delay(1), tarn::GeneralException);
  link.Delay(1);
  EXPECT_EQ(link.Delays(), (std::vector<uint32_t>{1, 1}));

  // I/O on a closed channel: code 11 and nothing on the wire.
  try {
    link.WriteByte(0x13);
    FAIL();
  } catch (const tarn::GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 11);
  }
  EXPECT_TRUE(link.pager().Transcript().empty());
  EXPECT_EQ(link.Trace(), "Open!1 Open Close!3 Close!3 Close Delay(1) Delay(1)!9 Delay(1)");
}

TEST(SimLink, DisconnectFaultMakesIoFail) {
  PagerConfig config = Config();
  config.faults = {{Step::kRecords, FaultKind::kDisconnect, 0, 1}};
  SimLink link(config);
  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  SendHeader(link, 0x87, 1, 0, 0);
  EXPECT_EQ(ReadN(link, 16).size(), 16u);
  try {
    link.ReadByte();
    FAIL();
  } catch (const tarn::GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 5);
  }
  try {
    link.WriteByte(0xAA);
    FAIL();
  } catch (const tarn::GeneralException& e) {
    EXPECT_EQ(e.GetCode(), 6);
  }
  link.Reconnect();
  EXPECT_EQ(WakeUp(link), 0x8B);
}

TEST(SimLink, ClosingInTheMiddleOfAHeaderIsATruncation) {
  SimLink link(Config());
  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  link.WriteByte(0x86);
  link.WriteByte(0x02);
  link.Close();
  ASSERT_EQ(link.pager().Violations().size(), 1u);
  EXPECT_EQ(link.pager().Violations()[0].kind, ViolationKind::kTruncatedHeader);
  // Bytes the pager had sent are gone with the line.
  link.Open();
  EXPECT_THROW(link.ReadByte(), tarn::GeneralException);
}

TEST(SimLink, CommandModeAckMissingCostsTheFiveSecondWait) {
  PagerConfig config = Config();
  config.faults = {{Step::kCommandAck, FaultKind::kSilence, 0, 0}};
  SimLink link(config);
  link.Open();
  ASSERT_EQ(WakeUp(link), 0x8B);
  SendHeader(link, 0x80, 9, 0, 0);
  const uint64_t before = link.NowMs();
  link.SetTimeout(5000);
  EXPECT_THROW(link.ReadByte(), tarn::GeneralException);
  EXPECT_EQ(link.NowMs(), before + 5000);
  EXPECT_FALSE(link.pager().InCommandMode());  // a silenced '.' abandons the entry
}

TEST(SimLink, ByteTimeChargesLineTime) {
  SimLink link(Config());
  link.SetByteTimeMs(1);
  link.Open();
  link.SetEchoCancel(false);
  link.WriteByte(0xAA);
  link.WriteByte(0x0B);
  EXPECT_EQ(link.NowMs(), 2u);
}

}  // namespace
}  // namespace pagersim
