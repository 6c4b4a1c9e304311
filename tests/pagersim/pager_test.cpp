// The pager model on its own: the bytes it answers to the host's sequences,
// its timing, the violations it records and the faults it injects.
#include "tools/pagersim/pager.h"

#include <gtest/gtest.h>

#include <random>

#include "sample_pagers.h"

namespace pagersim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kMs = 1000;

using testsupport::SpreadIdentity;

Bytes Answers(const PagerIdentity& id) {
  Bytes out(id.infoBlock.begin(), id.infoBlock.end());
  out.insert(out.end(), id.firstRecord.begin(), id.firstRecord.end());
  out.insert(out.end(), id.secondRecord.begin(), id.secondRecord.end());
  out.push_back(id.status);
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Drives a pager as a host would, at a clock the test moves.
struct Host {
  explicit Host(PagerConfig config = {}) : pager(std::move(config)) {}
  Bytes Send(const Bytes& bytes) {
    for (uint8_t b : bytes) pager.Receive(b, now);
    return pager.Pull(now);
  }
  Bytes Wait(uint64_t us) {
    now += us;
    return pager.Pull(now);
  }
  Pager pager;
  uint64_t now = 0;
};

PagerConfig Config(uint8_t status = 'O') {
  PagerConfig config;
  config.identity = SpreadIdentity(status);
  return config;
}

TEST(Pager, WakeByteAnswersTheConfiguredTypeAfterIgnoredWakes) {
  PagerConfig config = Config();
  config.ignoreWakes = 2;
  config.pagerType = 0x8C;
  Host host(config);
  EXPECT_EQ(host.Send({0xAA}), Bytes{});
  EXPECT_EQ(host.Send({0xAA}), Bytes{});
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8C});
  EXPECT_EQ(host.pager.Stats().wakeBytes, 3u);
  // Awake, a further wake byte gets no second answer; a host that lost the
  // answer is heard again once the pager has gone back to sleep, one host
  // time-out after its answer (the unanswered wake bytes do not keep it awake).
  host.Wait(200 * kMs);
  EXPECT_EQ(host.Send({0xAA}), Bytes{});
  host.Wait(700 * kMs);
  EXPECT_EQ(host.Send({0xAA}), Bytes{});
  host.Wait(101 * kMs);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8C});
}

// A pager that was late (a loaded machine) finds the host's first wake byte
// and its retry waiting together; on an echoing line the host reads its own
// wake byte, wakes again and then reads the first answer. Either way the host
// takes one answer and goes on with its header: a second answer would shift
// every answer by one byte, so a write or an activation failed with "Wrong
// Download password!" (the status byte read as the verdict) and an
// identification reported another pager's id as a success.
TEST(Pager, RepeatedWakeBytesGetOneAnswerAndTheTransactionStaysInStep) {
  Host host(Config());
  EXPECT_EQ(host.Send({0xAA, 0xAA}), Bytes{0x8B});
  host.Wait(100 * kMs);
  EXPECT_EQ(host.Send({0xAA}), Bytes{}) << "the retry after reading the line's echo";
  host.Wait(100 * kMs);
  // Activation: the answers, the verdict, the acknowledgement.
  EXPECT_EQ(host.Send({0x86, 0x0C, 0, 0, 0, 0, 0, 0}),
            Cat(Cat(Answers(SpreadIdentity('O')), {0xBB}), {0x06}));
  EXPECT_TRUE(host.pager.Violations().empty());
}

TEST(Pager, ReadOfFourBytesAt0100) {
  Host host(Config());
  for (int i = 0; i < 4; ++i) host.pager.Memory()[0x100 + i] = static_cast<uint8_t>(0xA0 + i);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
  EXPECT_EQ(host.Send({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}),
            Cat(Cat(Answers(SpreadIdentity('O')), {0xBB}), {0xA0, 0xA1, 0xA2, 0xA3}));
  EXPECT_TRUE(host.pager.Violations().empty());
  // The transcript holds every byte both ways: 1 + 1 + 8 + 38 + 4.
  EXPECT_EQ(host.pager.Transcript().size(), 52u);
  EXPECT_EQ(host.pager.Transcript()[1].direction, Direction::kPagerToHost);
}

TEST(Pager, ReadThatRunsPastTheEndWrapsToZero) {
  Host host(Config());
  host.pager.Memory()[0xFFFF] = 0x11;
  host.pager.Memory()[0x0000] = 0x22;
  host.Send({0xAA});
  Bytes out = host.Send({0x87, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02});
  ASSERT_EQ(out.size(), 37u + 2u);  // flag 0x01: no verdict
  EXPECT_EQ(out[37], 0x11);
  EXPECT_EQ(out[38], 0x22);
}

TEST(Pager, IdentifySendsAnswersWithoutVerdictEvenWhenStatusAsksForPassword) {
  Host host(Config('Y'));
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x87, 0x01, 0, 0, 0, 0, 0, 0}), Answers(SpreadIdentity('Y')));
  // Flag 0x01 means no password follows: the next wake is a new transaction.
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
  EXPECT_TRUE(host.pager.Violations().empty());
}

TEST(Pager, OptionByteOnlyUnderFlag20) {
  PagerConfig config = Config();
  config.optionByte = 0x5A;
  Host host(config);
  host.Send({0xAA});
  Bytes out = host.Send({0xA1, 0x01, 0, 0, 0, 0, 0, 0});  // 0x80|0x20|0x01: option + status
  EXPECT_EQ(out, (Bytes{0x5A, 'O'}));
}

TEST(Pager, DisabledPagerSendsStatusOnlyAndTakesNothingMore) {
  Host host(Config('D'));
  host.Send({0xAA});
  Bytes out = host.Send({0x86, 0x02, 0x02, 0x00, 0, 0, 0, 0x02});
  EXPECT_EQ(out, Answers(SpreadIdentity('D')));
  // No data phase: the bytes of a block would be stray bytes.
  host.Send({0x12});
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kUnexpectedByte));
  EXPECT_EQ(host.pager.Memory()[0x200], 0xFF);
}

TEST(Pager, PasswordAcceptedThenData) {
  PagerConfig config = Config('Y');
  const char* word = "SECRET-PW!";
  std::copy(word, word + 10, config.password.begin());
  Host host(config);
  host.pager.Memory()[0x10] = 0x77;
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x86, 0x01, 0x00, 0x10, 0, 0, 0, 1}), Answers(SpreadIdentity('Y')));
  EXPECT_EQ(host.Send(Bytes(word, word + 10)), (Bytes{0xBB, 0x77}));
}

TEST(Pager, WrongPasswordIsRefusedAndNoDataFollows) {
  PagerConfig config = Config('Y');
  config.password.fill('x');
  config.refusalByte = 0x4E;
  Host host(config);
  host.Send({0xAA});
  host.Send({0x86, 0x01, 0x00, 0x10, 0, 0, 0, 4});
  EXPECT_EQ(host.Send(Bytes(10, 0x00)), Bytes{0x4E});  // unset password: ten zeros
  EXPECT_EQ(host.pager.Stats().refusals, 1u);
  EXPECT_EQ(host.pager.Stats().reads, 0u);
}

TEST(Pager, WriteStoresBlockAndPacesSecondAck) {
  Host host(Config());
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x02, 0x00, 0, 0, 0, 0x02});
  // Two bytes: t = 0, both acknowledgements at once.
  EXPECT_EQ(host.Send({0x12, 0x34, 0x46}), (Bytes{0x06, 0x06}));
  EXPECT_EQ(host.pager.Memory()[0x200], 0x12);
  EXPECT_EQ(host.pager.Memory()[0x201], 0x34);

  // 100 bytes: t = 9 ms, the second ack 450 ms after the first.
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x10, 0x00, 0, 0, 0, 100});
  Bytes block(100, 0x01);
  block.push_back(100);
  EXPECT_EQ(host.Send(block), Bytes{0x06});
  EXPECT_EQ(host.pager.NextOutputTime(), host.now + 450 * kMs);
  EXPECT_EQ(host.Wait(450 * kMs - 1), Bytes{});
  EXPECT_EQ(host.Wait(1), Bytes{0x06});
  EXPECT_EQ(host.pager.Stats().writes, 2u);
}

TEST(Pager, FastWriteAckSkipsThePacing) {
  PagerConfig config = Config();
  config.fastWriteAck = true;
  Host host(config);
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x00, 0x00, 0, 0, 0, 100});
  Bytes block(100, 0x02);
  block.push_back(200);
  EXPECT_EQ(host.Send(block), (Bytes{0x06, 0x06}));
}

TEST(Pager, BadChecksumIsRefusedAndNothingStored) {
  Host host(Config());
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x02, 0x00, 0, 0, 0, 0x02});
  EXPECT_EQ(host.Send({0x12, 0x34, 0x47}), Bytes{0x15});
  EXPECT_EQ(host.pager.Memory()[0x200], 0xFF);
  ASSERT_EQ(host.pager.Violations().size(), 1u);
  EXPECT_EQ(host.pager.Violations()[0].kind, ViolationKind::kBadChecksum);
  EXPECT_EQ(host.pager.Stats().writes, 0u);
}

TEST(Pager, BytesWhileThePagerIsBusyAreViolations) {
  Host host(Config());
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x00, 0x00, 0, 0, 0, 200});  // t = 19 ms
  Bytes block(200, 0);
  block.push_back(0);
  EXPECT_EQ(host.Send(block), Bytes{0x06});
  EXPECT_EQ(host.Send({0xAA}), Bytes{});  // impatient host: not answered
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kUnexpectedByte));
  EXPECT_EQ(host.Wait(50 * 19 * kMs), Bytes{0x06});
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
}

TEST(Pager, WrongHeadersAreRecordedAndAnsweredWithSilence) {
  Host host(Config());
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x06, 0x01, 0, 0, 0, 0, 0, 0}), Bytes{});  // flag 0x80 clear
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x86, 0x05, 0, 0, 0, 0, 0, 0}), Bytes{});  // command 5
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kWrongHeader));
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kUnknownCommand));
  // Parameter 2 not zero is recorded but the pager still answers.
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x87, 0x01, 0, 0, 0x12, 0x34, 0, 0}).size(), 37u);
  EXPECT_EQ(host.pager.Violations().size(), 3u);
  EXPECT_EQ(host.pager.Stats().transactions, 1u);
}

TEST(Pager, TruncatedHeaderTimesOutAndThePagerRecovers) {
  Host host(Config());
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x86, 0x01, 0x00}), Bytes{});
  EXPECT_EQ(host.pager.NextDeadline(), host.now + 1000 * kMs + 1);
  host.Wait(1001 * kMs);
  ASSERT_EQ(host.pager.Violations().size(), 1u);
  EXPECT_EQ(host.pager.Violations()[0].kind, ViolationKind::kTruncatedHeader);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
}

TEST(Pager, LineDroppedInTheMiddleOfABlockIsRecorded) {
  Host host(Config());
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x00, 0x00, 0, 0, 0, 10});
  host.Send({1, 2, 3});
  host.pager.LineDropped(host.now);
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kTruncatedData));
  EXPECT_EQ(host.pager.Memory()[0], 0xFF);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
}

TEST(Pager, GarbageNeverCrashesAndThePagerStillAnswersAfterwards) {
  std::mt19937 random(1234);
  for (int round = 0; round < 50; ++round) {
    Host host(Config(round % 2 ? 'Y' : 'O'));
    for (int i = 0; i < 400; ++i) {
      host.pager.Receive(static_cast<uint8_t>(random()), host.now);
      host.now += random() % 3000;  // sometimes beyond the host timeout
      host.pager.Pull(host.now);
    }
    host.pager.LineDropped(host.now);
    host.now += 2000 * kMs;
    host.pager.Pull(host.now);
    EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B}) << "round " << round;
  }
}

TEST(Pager, ActivationAcknowledgesAfterTheDelayAndChangesIdentity) {
  PagerConfig config = Config();
  config.activateDelayMs = 30000;
  config.identityAfterActivate = SpreadIdentity('Z');
  Host host(config);
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x86, 0x0C, 0, 0, 0, 0, 0, 0}), Cat(Answers(SpreadIdentity('O')), {0xBB}));
  EXPECT_EQ(host.Wait(29999 * kMs), Bytes{});
  EXPECT_EQ(host.Wait(1 * kMs), Bytes{0x06});
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x9F, 0x01, 0, 0, 0, 0, 0, 0}), Answers(SpreadIdentity('Z')));
  EXPECT_EQ(host.pager.Stats().activations, 1u);
}

TEST(Pager, CommandModeBlocksAndLeaving) {
  Host host(Config());
  host.Send({0xAA});
  EXPECT_EQ(host.Send({0x80, 0x09, 0, 0, 0, 0, 0, 0}), Bytes{0x2E});
  EXPECT_TRUE(host.pager.InCommandMode());
  EXPECT_EQ(host.Send({0x13}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0xFF}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0x02}), Bytes{0x2E});
  // No '.' after a parameter command byte: the block follows at once.
  EXPECT_EQ(host.Send({0xAE}), Bytes{});
  EXPECT_EQ(host.Send({0x34, 0x56, 0x00, 0x12, 0xAB, 0xCD, 0x14}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0x40, 0x56, 0x34, 0x12, 0x00, 0xCD, 0xAB, 0x14}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0x42, 0x01, 0x00, 0x00, 0x00, 0x01}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0x46, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02}), Bytes{0x2E});
  // A bad checksum is refused with something other than '.' and recorded.
  EXPECT_EQ(host.Send({0x42, 0x01, 0x00, 0x00, 0x00, 0x02}), Bytes{0x15});
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kBadChecksum));
  EXPECT_EQ(host.Send({0x12}), Bytes{0x2E});
  EXPECT_FALSE(host.pager.InCommandMode());

  const auto& commands = host.pager.Commands();
  ASSERT_EQ(commands.size(), 9u);
  EXPECT_EQ(commands[3].command, 0xAE);
  EXPECT_EQ(commands[3].block, (Bytes{0x34, 0x56, 0x00, 0x12, 0xAB, 0xCD}));
  EXPECT_FALSE(commands[7].checksumOk);
  EXPECT_EQ(commands[8].command, 0x12);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});
}

TEST(Pager, ProbeIsAnsweredOutsideTransactionsAndUnknownBytesAreViolations) {
  Host host(Config());
  EXPECT_EQ(host.Send({0x0B}), Bytes{0x2E});
  EXPECT_EQ(host.Send({0x55}), Bytes{});
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kUnexpectedByte));
  EXPECT_EQ(host.pager.Stats().probes, 1u);
}

TEST(Pager, OutputFaultsReplaceDropOrSilenceTheirStep) {
  {
    PagerConfig config = Config();
    config.faults = {{Step::kWakeAnswer, FaultKind::kWrongByte, 0x00, 1}};
    Host host(config);
    EXPECT_EQ(host.Send({0xAA}), Bytes{0x00});
    host.Wait(1001 * kMs);                      // the next operation finds the pager asleep again
    EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});  // count 1: fired once
  }
  {
    PagerConfig config = Config();
    config.faults = {{Step::kInfoBlock, FaultKind::kDropByte, 0, 1}};
    Host host(config);
    host.Send({0xAA});
    EXPECT_EQ(host.Send({0x87, 0x01, 0, 0, 0, 0, 0, 0}).size(), 36u);
  }
  {
    PagerConfig config = Config();
    config.faults = {{Step::kStatus, FaultKind::kSilence, 0, 1}};
    Host host(config);
    host.Send({0xAA});
    EXPECT_EQ(host.Send({0x86, 0x01, 0, 0, 0, 0, 0, 4}).size(), 36u);  // no status, no data
  }
  {
    PagerConfig config = Config();
    config.faults = {{Step::kFirstAck, FaultKind::kWrongByte, 0x15, 1}};
    Host host(config);
    host.Send({0xAA});
    host.Send({0x86, 0x02, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(host.Send({0x05, 0x05}), (Bytes{0x15, 0x06}));
  }
  {
    PagerConfig config = Config();
    config.faults = {{Step::kSecondAck, FaultKind::kSilence, 0, 0}};
    Host host(config);
    host.Send({0xAA});
    host.Send({0x86, 0x02, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(host.Send({0x05, 0x05}), Bytes{0x06});
    EXPECT_EQ(host.Wait(100000 * kMs), Bytes{});
  }
}

TEST(Pager, InputFaultsCorruptOrLoseTheHostsBytes) {
  PagerConfig config = Config();
  config.faults = {{Step::kWriteData, FaultKind::kWrongByte, 0x13, 1}};
  Host host(config);
  host.Send({0xAA});
  host.Send({0x86, 0x02, 0x02, 0x00, 0, 0, 0, 2});
  EXPECT_EQ(host.Send({0x12, 0x34, 0x46}), Bytes{0x15});  // line noise on the first byte
  EXPECT_TRUE(host.pager.HasViolation(ViolationKind::kBadChecksum));

  PagerConfig dropping = Config();
  dropping.faults = {{Step::kHeader, FaultKind::kDropByte, 0, 1}};
  Host other(dropping);
  other.Send({0xAA});
  EXPECT_EQ(other.Send({0x87, 0x01, 0, 0, 0, 0, 0, 0}), Bytes{});  // 7 of 8 bytes arrived
  other.Wait(2000 * kMs);
  EXPECT_TRUE(other.pager.HasViolation(ViolationKind::kTruncatedHeader));
}

TEST(Pager, EchoingLineAndDisconnect) {
  PagerConfig config = Config();
  config.ignoreWakes = 1;
  config.faults = {{Step::kWakeAnswer, FaultKind::kEcho, 0, 1}};
  Host host(config);
  EXPECT_EQ(host.Send({0xAA}), Bytes{0xAA});  // echo only, the wake is ignored
  EXPECT_EQ(host.Send({0xAA}), Bytes{0x8B});

  PagerConfig everything = Config();
  everything.faults = {{Step::kAny, FaultKind::kEcho, 0, 0}};
  Host echoing(everything);
  EXPECT_EQ(echoing.Send({0xAA}), (Bytes{0xAA, 0x8B}));
  EXPECT_EQ(echoing.Send({0x55}), Bytes{0x55});

  PagerConfig cut = Config();
  cut.faults = {{Step::kVerdict, FaultKind::kDisconnect, 0, 1}};
  Host dead(cut);
  dead.Send({0xAA});
  EXPECT_EQ(dead.Send({0x86, 0x01, 0, 0, 0, 0, 0, 1}).size(), 37u);
  EXPECT_TRUE(dead.pager.Disconnected());
  EXPECT_EQ(dead.Send({0xAA}), Bytes{});
}

TEST(Pager, StopsAnsweringAfterTheConfiguredDataBytes) {
  PagerConfig config = Config();
  config.stopAfterDataBytes = 3;
  Host host(config);
  host.Send({0xAA});
  Bytes out = host.Send({0x86, 0x01, 0, 0, 0, 0, 0, 10});
  EXPECT_EQ(out.size(), 38u + 3u);
  EXPECT_TRUE(host.pager.Stopped());
  EXPECT_EQ(host.Send({0xAA}), Bytes{});

  Host writer(config);
  writer.Send({0xAA});
  writer.Send({0x86, 0x02, 0, 0, 0, 0, 0, 3});
  // Three data bytes get through; the checksum byte finds the pager dead.
  EXPECT_EQ(writer.Send({1, 2, 3, 6}), Bytes{});
  EXPECT_TRUE(writer.pager.Stopped());
  EXPECT_EQ(writer.pager.Memory()[0], 0xFF);
}

TEST(Pager, NamesRoundTrip) {
  for (Step step : {Step::kAny, Step::kWakeAnswer, Step::kReadData, Step::kSecondAck,
                    Step::kCommandBlock, Step::kProbeAnswer})
    EXPECT_EQ(StepFromString(ToString(step)), step);
  EXPECT_EQ(FaultKindFromString("disconnect"), FaultKind::kDisconnect);
  EXPECT_FALSE(StepFromString("nonsense"));
}

}  // namespace
}  // namespace pagersim
