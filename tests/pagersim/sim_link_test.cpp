// The in-process link: virtual time, recorded calls, failure hooks, and the
// pager answering the host's byte sequences over it.
#include "tools/pagersim/sim_link.h"

#include <gtest/gtest.h>

#include <numeric>

namespace pagersim {
namespace {

using Bytes = std::vector<uint8_t>;

PagerIdentity SampleIdentity(uint8_t status) {
  PagerIdentity id;
  for (int i = 0; i < 16; ++i) id.infoBlock[i] = static_cast<uint8_t>(0x10 + i);
  for (int i = 0; i < 10; ++i) id.firstRecord[i] = static_cast<uint8_t>(0x30 + i);
  for (int i = 0; i < 10; ++i) id.secondRecord[i] = static_cast<uint8_t>(0x50 + i);
  id.status = status;
  return id;
}

// The host side of a transaction, driven by hand through the channel.
void WakeAndHeader(SimLink& link, const Bytes& header) {
  link.Open();
  link.SetEchoCancel(false);
  link.SetTimeout(100);
  link.WriteByte(0xAA);
  link.Delay(100);
  ASSERT_EQ(link.ReadByte(), 0x8B);
  link.Delay(100);
  link.SetTimeout(2000);
  for (uint8_t b : header) link.WriteByte(b);
  link.Delay(5);
}

Bytes ReadN(SimLink& link, size_t n) {
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.push_back(link.ReadByte());
  return out;
}

TEST(SimLink, ReadOfFourBytesAt0100) {
  PagerConfig config;
  config.identity = SampleIdentity('O');
  SimLink link(config);
  for (int i = 0; i < 4; ++i) link.pager().Memory()[0x100 + i] = static_cast<uint8_t>(0xC0 + i);

  WakeAndHeader(link, {0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04});
  Bytes answers = ReadN(link, 16 + 20 + 1 + 1);
  Bytes expected;
  const PagerIdentity id = SampleIdentity('O');
  expected.insert(expected.end(), id.infoBlock.begin(), id.infoBlock.end());
  expected.insert(expected.end(), id.firstRecord.begin(), id.firstRecord.end());
  expected.insert(expected.end(), id.secondRecord.begin(), id.secondRecord.end());
  expected.push_back('O');
  expected.push_back(0xBB);
  EXPECT_EQ(answers, expected);
  EXPECT_EQ(ReadN(link, 4), (Bytes{0xC0, 0xC1, 0xC2, 0xC3}));
  EXPECT_THROW(link.ReadByte(), tarn::GeneralException);  // nothing more
  link.Close();
  EXPECT_TRUE(link.pager().Violations().empty());
  EXPECT_EQ(link.pager().Stats().reads, 1u);
}

}  // namespace
}  // namespace pagersim
