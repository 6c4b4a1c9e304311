// Error table, work buffer, deadline, and what happens without a channel or
// when a channel call outside the guarded primitives fails.
#include <cstring>
#include <stdexcept>

#include "protocol_test_util.h"
#include "tarn/protocol/byte_stream.h"
#include "tarn/protocol/error_table.h"

namespace protocol_test {
namespace {

using tarn::CByteStream;

TEST(ErrorTable, CodesAndTextsByIndex) {
  const struct {
    int32_t code;
    const char* text;
  } expected[] = {
      {1, "OK"},
      {2, "Unhandled exception"},
      {3, "Unhandled timeout"},
      {4, "Can't open serial port"},
      {5, "Internal error"},
      {6, "System error"},
      {7, "Can't close serial port"},
      {8, "Can't initialize download server"},
      {9, "Undefined COM port error"},
      {10, "Unsupported pager."},
      {11, "There is no answer from pager"},
      {12, "Pager disabled. Operation canceled."},
      {13, "Wrong Download password!"},
      {14, "Download password required"},
      {16, "There was an error while sending data to a pager. Operation canceled."},
  };
  ASSERT_EQ(tarn::kErrorCount, 15);
  for (int32_t i = 0; i < tarn::kErrorCount; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tarn::LookupError(i).code, expected[i].code);
    EXPECT_STREQ(tarn::LookupError(i).text, expected[i].text);
    EXPECT_EQ(&tarn::LookupError(i), &tarn::kErrorTable[i]);
  }
  // No index reports 15.
  for (const auto& entry : tarn::kErrorTable) EXPECT_NE(entry.code, 15);
}

TEST(ErrorTable, IndexOutsideTheTableIsAnsweredSafely) {
  EXPECT_STREQ(tarn::LookupError(15).text, "Internal error");
  EXPECT_STREQ(tarn::LookupError(-1).text, "Internal error");
  EXPECT_EQ(tarn::LookupError(1000).code, 5);
}

TEST(ByteStream, GrowsByTwiceCapacityPlusOneKeepingWrittenBytes) {
  CByteStream s(4);
  const uint8_t a[] = {1, 2, 3};
  s.Append(a, 3);
  EXPECT_EQ(s.Capacity(), 4u);
  s.Append(a, 3);  // needs 6: 4 -> 9
  EXPECT_EQ(s.Capacity(), 9u);
  EXPECT_EQ(s.Size(), 6u);
  const uint8_t big[20] = {};
  s.Append(big, 20);  // needs 26: 9 -> 19 -> 39
  EXPECT_EQ(s.Capacity(), 39u);
  EXPECT_EQ(s.Position(), 26u);
  EXPECT_EQ(0, std::memcmp(s.Data(), "\1\2\3\1\2\3", 6));
  // Storage past what was written is zero.
  for (uint32_t i = 26; i < s.Capacity(); ++i) ASSERT_EQ(s.Data()[i], 0) << i;
}

TEST(ByteStream, ReversedAppendPutsMostSignificantByteFirst) {
  CByteStream s;
  const uint8_t little_endian[] = {0x34, 0x12};
  s.Append(little_endian, 1);
  s.AppendReversed(little_endian, 2);
  ASSERT_EQ(s.Position(), 3u);
  EXPECT_EQ(s.Data()[0], 0x34);
  EXPECT_EQ(s.Data()[1], 0x12);
  EXPECT_EQ(s.Data()[2], 0x34);
}

TEST(ByteStream, ReadsAreCutAtTheWrittenSizeAndSeekIsClamped) {
  CByteStream s(16);
  const uint8_t a[] = {1, 2, 3, 4, 5};
  s.Append(a, 5);
  EXPECT_EQ(s.Seek(3), 3u);
  uint8_t out[8];
  std::memset(out, 0xEE, sizeof out);
  EXPECT_EQ(s.Read(out, 8), 2u);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(out[2], 0xEE);
  EXPECT_EQ(s.Position(), 5u);
  EXPECT_EQ(s.Read(out, 1), 0u);
  EXPECT_EQ(s.Seek(100), 5u);
  // Overwriting in the middle keeps the high-water mark.
  s.Seek(1);
  s.Append(a, 2);
  EXPECT_EQ(s.Size(), 5u);
  EXPECT_EQ(s.Position(), 3u);
  EXPECT_EQ(s.Data()[1], 1);
  EXPECT_EQ(s.Data()[4], 5);
}

TEST(ByteStream, ClearZeroesTheUsedBytesAndKeepsCapacity) {
  CByteStream s(4);
  const uint8_t a[] = {9, 9, 9, 9, 9, 9};
  s.Append(a, 6);
  const uint32_t capacity = s.Capacity();
  s.Clear();
  EXPECT_EQ(s.Size(), 0u);
  EXPECT_EQ(s.Position(), 0u);
  EXPECT_EQ(s.Capacity(), capacity);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(s.Data()[i], 0) << i;
  uint8_t out = 0xEE;
  EXPECT_EQ(s.Read(&out, 1), 0u);
}

TEST(Deadline, NoDeadlineIsTheReservedValue) {
  Bench b;
  EXPECT_EQ(b.proto.deadline, 0x7FFFFFFFFFFFFFFFull);
  EXPECT_EQ(b.proto.deadline >> 32, 0x7FFFFFFFu);
  EXPECT_EQ(b.proto.deadline & 0xFFFFFFFFu, 0xFFFFFFFFu);
  b.proto.SetDeadline(5);
  b.proto.SetDeadline(0xFFFFFFFF);
  EXPECT_EQ(b.proto.deadline, CPagerProtocol::kNoDeadline);
  b.link.Advance(1000000);
  EXPECT_NO_THROW(b.proto.CheckDeadline());
}

TEST(Deadline, PassesOnlyWhenTheClockIsStrictlyLater) {
  Bench b;
  b.link.Advance(7);
  b.proto.SetDeadline(1000);
  EXPECT_EQ(b.proto.deadline, VirtualClock(&b.link) + 1000 * 10000ull);
  b.link.Advance(1000);
  EXPECT_NO_THROW(b.proto.CheckDeadline());
  b.link.Advance(1);
  EXPECT_THROW(b.proto.CheckDeadline(), CPagerProtocol::CTarnTimeout);
}

TEST(Deadline, SystemClockCountsFrom1601) {
  const uint64_t now = CPagerProtocol::SystemUtcTicks(nullptr);
  EXPECT_GT(now, 132223104000000000ull);  // 2020-01-01
  EXPECT_LT(now, 157469184000000000ull);  // 2100-01-01
  CPagerProtocol p;
  p.SetDeadline(60000);
  EXPECT_NO_THROW(p.CheckDeadline());
  EXPECT_GE(p.deadline, now + 60000 * 10000ull);
}

TEST(Deadline, ByteThatCompletesAfterTheDeadlineEndsTheOperation) {
  Bench b;
  b.proto.SetDeadline(150);
  // The wake-up ends at 200 ms; the first header byte still goes out, then
  // the check after it throws and nothing more is sent.
  EXPECT_THROW(b.proto.DoIdentify(), CPagerProtocol::CTarnTimeout);
  EXPECT_EQ(b.link.Trace(), Join({"Open", kWake, "W:87"}));
  EXPECT_TRUE(b.link.IsOpen());  // an exception leaves the port as it was
  EXPECT_EQ(b.proto.lastError, 0);
}

TEST(NoChannel, OperationsRaiseInsteadOfTouchingANullChannel) {
  CPagerProtocol p(nullptr);
  uint8_t buffer[4] = {};
  EXPECT_THROW(p.DoIdentify(), tarn::NoChannelError);
  EXPECT_THROW(p.DoReadMemory(0, buffer, 4), tarn::NoChannelError);
  EXPECT_THROW(p.DoWriteMemory(0, buffer, 4), tarn::NoChannelError);
  EXPECT_THROW(p.DoActivate(), tarn::NoChannelError);
  EXPECT_THROW(p.DoBeginCommands(), tarn::NoChannelError);
  EXPECT_THROW(p.DoSendCommand13(), tarn::NoChannelError);
  EXPECT_THROW(p.DoSendCommand46(1, 2), tarn::NoChannelError);
  EXPECT_THROW(p.DoEndCommands(), tarn::NoChannelError);
  EXPECT_THROW(p.DoSendCommand0B(), tarn::NoChannelError);
  // Not a channel failure: none of the guarded primitives turns it into an
  // error index.
  EXPECT_EQ(p.lastError, 0);
  // Field helpers keep working.
  const uint8_t pw[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  p.SetPassword(pw);
  EXPECT_EQ(p.passwordGiven, 1);
  p.ClearPassword();
  EXPECT_EQ(p.passwordGiven, 0);
  EXPECT_EQ(0, std::memcmp(p.password, pw, 10));
}

TEST(Exceptions, ChannelFailureOutsideTheGuardedPrimitivesPropagates) {
  for (CallKind kind :
       {CallKind::kPurgeInput, CallKind::kSetTimeout, CallKind::kSetEchoCancel, CallKind::kDelay}) {
    SCOPED_TRACE(pagersim::ToString(kind));
    Bench b;
    b.link.FailOn(kind, tarn::kChannelControlFailed);
    try {
      b.proto.DoIdentify();
      ADD_FAILURE() << "no exception";
    } catch (const tarn::GeneralException& e) {
      EXPECT_EQ(e.GetCode(), tarn::kChannelControlFailed);
    }
    EXPECT_EQ(b.proto.lastError, 0);
    EXPECT_TRUE(b.link.IsOpen());
  }
}

TEST(Exceptions, NullClientBufferIsRefusedBeforeTheWire) {
  Bench b;
  EXPECT_THROW(b.proto.DoReadMemory(0, nullptr, 4), std::invalid_argument);
  EXPECT_THROW(b.proto.DoWriteMemory(0, nullptr, 4), std::invalid_argument);
  EXPECT_THROW(b.proto.SetPassword(nullptr), std::invalid_argument);
  EXPECT_TRUE(b.link.Calls().empty());
  // Length 0 needs no buffer.
  EXPECT_EQ(b.proto.DoReadMemory(0, nullptr, 0), kResultOk);
}

TEST(Fields, InfoIdIsBytesNineToFourteenOfTheInfoBlock) {
  Bench b;
  ASSERT_EQ(b.proto.DoIdentify(), kResultOk);
  uint8_t id[6];
  b.proto.CopyInfoId(id);
  EXPECT_EQ(Bytes(id, id + 6), Range(0x19, 6));
}

}  // namespace
}  // namespace protocol_test
