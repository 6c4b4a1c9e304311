// Single records: building, body and byte extraction, strict and tolerant
// parsing.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "holm/srecord/srecord.h"

namespace holm {
namespace {

const uint8_t kAB[] = {'A', 'B'};
const uint8_t k123[] = {1, 2, 3};

TEST(BuildRecord, WritesTheDocumentedExamples) {
  EXPECT_EQ(BuildRecord("S0", 0, nullptr, 0), "S001FE");
  EXPECT_EQ(BuildRecord("S1", 0x1000, k123, 3), "S1061000010203E3");
  EXPECT_EQ(BuildRecord("S0", 0, kAB, 2), "S003414279");
  // Only the low 16 bits of the address are written.
  EXPECT_EQ(BuildRecord("S1", 0x12345, k123, 3).substr(4, 4), "2345");
  EXPECT_EQ(BuildRecord("S1", 0x1000, k123, 3, "\n"), "S1061000010203E3\n");
  EXPECT_EQ(BuildRecord("S9", 0, nullptr, 0), "S9030000FC");
}

TEST(BuildRecord, HeaderTypeIsComparedWithoutCaseAndCountWraps) {
  EXPECT_EQ(BuildRecord("s0", 0, kAB, 2), "s003414279");
  // 255 header bytes: count (255 + 1) modulo 256 = 0, checksum over all bytes.
  std::vector<uint8_t> big(255, 0x01);
  std::string r = BuildRecord("S0", 0, big.data(), big.size());
  ASSERT_EQ(r.size(), 2 + 2 + 2 * 255 + 2u);
  EXPECT_EQ(r.substr(0, 4), "S000");
  EXPECT_EQ(r.substr(r.size() - 2), "00");  // ~(0 + 255) & FF
  // Every byte value is written in upper-case hex.
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  std::string s = BuildRecord("S1", 0, all.data() + 0xF0, 16);
  EXPECT_EQ(s, "S1130000F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF74");
}

TEST(RecordBody, DropsUpperCaseTypeAndTrailingNonAlphanumerics) {
  EXPECT_EQ(RecordBody("S1061000010203E3"), "061000010203E3");
  EXPECT_EQ(RecordBody("S1061000010203E3\r\n"), "061000010203E3");
  EXPECT_EQ(RecordBody("S1061000010203E3 \t;\n"), "061000010203E3");
  EXPECT_EQ(RecordBody("s1061000010203E3"), "s1061000010203E3");
  EXPECT_EQ(RecordBody("0610"), "0610");
  EXPECT_EQ(RecordBody("S"), "");
  EXPECT_EQ(RecordBody("\n"), "");
  EXPECT_EQ(RecordBody("S1 06 10\n"), " 06 10");
}

TEST(RecordByte, ConvertsLikeAStopAtFirstNonHexConversion) {
  EXPECT_EQ(RecordByte("0AfF", 0), 0x0A);
  EXPECT_EQ(RecordByte("0AfF", 1), 0xFF);
  EXPECT_EQ(RecordByte("1G", 0), 1);
  EXPECT_EQ(RecordByte("G1", 0), 0);
  EXPECT_EQ(RecordByte(" 5", 0), 5);
  EXPECT_EQ(RecordByte("-1", 0), 0xFF);
  EXPECT_EQ(RecordByte("+7", 0), 7);
  EXPECT_EQ(RecordByte("0x", 0), 0);
  EXPECT_EQ(RecordByte("12", 5), 0);  // beyond the body
  EXPECT_EQ(RecordByte("123", 1), 3);
}

TEST(LoadRecord, AcceptsEmptyHeaderWithoutStoring) {
  std::array<uint8_t, 4> buf{9, 9, 9, 9};
  EXPECT_NO_THROW(LoadRecord("S001FE", 0, buf.data(), 4));
  EXPECT_NO_THROW(LoadRecord("S001fe\n", 0, buf.data(), 4));
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{9, 9, 9, 9}));
}

TEST(LoadRecord, RejectsMalformedRecords) {
  std::array<uint8_t, 4> buf{};
  EXPECT_THROW(LoadRecord("S102FFFF", 0, buf.data(), 4), S19Damaged);  // count 2, sums fine
  EXPECT_THROW(LoadRecord("S002FFFF", 0, buf.data(), 4), S19Damaged);  // S0 with count 2
  EXPECT_THROW(LoadRecord("S1", 0, buf.data(), 4), S19Damaged);
  EXPECT_THROW(LoadRecord("S103000", 0, buf.data(), 4), S19Damaged);           // odd length
  EXPECT_THROW(LoadRecord("S105100001E9", 0, buf.data(), 4), S19Damaged);      // count 5, n-1 = 4
  EXPECT_THROW(LoadRecord("S1061000010203E4", 0, buf.data(), 4), S19Damaged);  // checksum
  EXPECT_THROW(LoadRecord("", 0, buf.data(), 4), S19Damaged);
  EXPECT_THROW(LoadRecord("s1061000010203E3", 0x1000, buf.data(), 4), S19Damaged);
}

TEST(LoadRecord, PlacesBytesRelativeToBaseAndDropsOutsideOnes) {
  std::array<uint8_t, 4> buf{0xEE, 0xEE, 0xEE, 0xEE};
  // Address 1000, base 0FFF: bytes go to index 1, 2, 3.
  LoadRecord("S1061000010203E3", 0x0FFF, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0xEE, 1, 2, 3}));
  // Base 1002: the first two fall below, the third goes to index 0.
  buf.fill(0xEE);
  LoadRecord("S1061000010203E3", 0x1002, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{3, 0xEE, 0xEE, 0xEE}));
  // Beyond base + size: checksum still verified, nothing stored.
  buf.fill(0xEE);
  LoadRecord("S1061000010203E3", 0x0F00, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_THROW(LoadRecord("S1061000010203E2", 0x0F00, buf.data(), 4), S19Damaged);
  // Lower-case hex digits and a CR LF.
  LoadRecord("S1061000aabbccb8\r\n", 0x1000, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0xAA, 0xBB, 0xCC, 0xEE}));
  // Extreme bases do not overflow the offset arithmetic.
  buf.fill(0xEE);
  LoadRecord("S1061000010203E3", INT32_MIN, buf.data(), 4);
  LoadRecord("S1061000010203E3", INT32_MAX, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(LoadRecord, TakesTheFirstTwoHeaderBytesAsAnOffset) {
  std::array<uint8_t, 4> buf{};
  // S0 "AB": offset 4142 hex lies outside a 4-byte buffer; checksum passes.
  EXPECT_NO_THROW(LoadRecord("S003414279", 0, buf.data(), 4));
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{}));
  // S0 of 00 01 'X' 'Y': X and Y go to index 1 and 2.
  const uint8_t h[] = {0, 1, 'X', 'Y'};
  LoadRecord(BuildRecord("S0", 0, h, 4), 0, buf.data(), 4);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{0, 'X', 'Y', 0}));
}

TEST(ScanRecord, ReportsStatusAddressAndCount) {
  std::array<uint8_t, 4> buf{};
  uint16_t address = 0xFFFF;
  uint8_t count = 0xFF;
  EXPECT_EQ(ScanRecord("S1061000010203E3", 0x1000, buf.data(), 4, &address, &count), RecordOk);
  EXPECT_EQ(address, 0x1000);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{1, 2, 3, 0}));

  // Checksum error: bytes are stored all the same.
  buf.fill(0);
  EXPECT_EQ(ScanRecord("S1061000070809E3", 0x1000, buf.data(), 4, &address, &count),
            RecordChecksumError);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{7, 8, 9, 0}));

  // Malformed: outputs reset; count output set once the body is long enough.
  EXPECT_EQ(ScanRecord("S1", 0, buf.data(), 4, &address, &count), RecordMalformed);
  EXPECT_EQ(address, 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(ScanRecord("S10510000102", 0, buf.data(), 4, &address, &count), RecordMalformed);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(address, 0);
  EXPECT_EQ(ScanRecord("S002FFFF", 0, buf.data(), 4, nullptr, nullptr), RecordMalformed);
  EXPECT_EQ(ScanRecord("S001FE", 0, buf.data(), 4, nullptr, nullptr), RecordOk);
}

TEST(ScanRecord, HeaderHasNoAddressField) {
  std::array<uint8_t, 4> buf{};
  uint16_t address = 7;
  EXPECT_EQ(ScanRecord("S003414279", 0x5000, buf.data(), 4, &address, nullptr), RecordOk);
  EXPECT_EQ(address, 0);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{'A', 'B', 0, 0}));
  // A header longer than the buffer is cut at its size.
  const uint8_t h[] = {1, 2, 3, 4, 5, 6};
  buf.fill(0);
  EXPECT_EQ(ScanRecord(BuildRecord("S0", 0, h, 6), 0, buf.data(), 4, nullptr, nullptr), RecordOk);
  EXPECT_EQ(buf, (std::array<uint8_t, 4>{1, 2, 3, 4}));
  // No buffer at all: the checksum is still checked.
  EXPECT_EQ(ScanRecord("S9030000FC", 0, nullptr, 0, nullptr, nullptr), RecordOk);
  EXPECT_EQ(ScanRecord("S9030000FD", 0, nullptr, 0, nullptr, nullptr), RecordChecksumError);
}

}  // namespace
}  // namespace holm
