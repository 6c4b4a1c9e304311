// The settings reader when memory runs out at each of its allocations, and
// quoted tokens in the key's place. This program replaces the non-throwing
// allocation functions (the only ones the reader uses) so that a test can
// make exactly one of them fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "tarn/channel/thunked_serial_channel.h"

namespace {
int g_failAt = 0;  // 0: never; n: the n-th non-throwing allocation from now fails

void* Allocate(std::size_t size) noexcept {
  if (g_failAt > 0 && --g_failAt == 0) return nullptr;
  return std::malloc(size != 0 ? size : 1);
}
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
// Everything else still comes from the standard allocator, so frees must
// match: the plain forms go through malloc too.
void* operator new(std::size_t size) {
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace tarn {
namespace {

// Allocations of one SetSettings of two pairs: for each pair as it is read
// the pair, its key and its value (1-6); then, walking back from the last
// pair, the copy of the device name (7); then the stored text (8).
const char kText[] = "device = COM2 baud = 4800";

struct Channel {
  Channel() { ch.SetSettings("device = COM1"); }
  std::string Stored() {
    char buffer[64] = {};
    ch.GetSettings(buffer, sizeof buffer);
    return buffer;
  }
  // Applies kText with the n-th allocation failing; the channel code, or 0.
  int ApplyFailingAt(int n) {
    g_failAt = n;
    int code = 0;
    try {
      ch.SetSettings(kText);
    } catch (const GeneralException& e) {
      code = e.GetCode();
    }
    g_failAt = 0;
    return code;
  }
  CThunkedSerialChannel ch;
};

TEST(SettingsOutOfMemory, WhileReadingThePairsReadSoFarAreApplied) {
  for (int n = 4; n <= 6; ++n) {  // the second pair, its key or its value
    SCOPED_TRACE(n);
    Channel c;
    EXPECT_EQ(c.ApplyFailingAt(n), 0);
    EXPECT_STREQ(c.ch.DeviceName(), "COM2");
    EXPECT_EQ(c.ch.BaudRate(), 9600);
    EXPECT_EQ(c.Stored(), kText);
  }
  for (int n = 1; n <= 3; ++n) {  // the first pair: no pair at all, nothing changes
    SCOPED_TRACE(n);
    Channel c;
    EXPECT_EQ(c.ApplyFailingAt(n), 0);
    EXPECT_STREQ(c.ch.DeviceName(), "COM1");
    EXPECT_EQ(c.Stored(), "device = COM1");
  }
}

TEST(SettingsOutOfMemory, DeviceCopyOrStoredTextFailWithCodeTwoKeepingWhatWasApplied) {
  {
    SCOPED_TRACE("device name");
    Channel c;
    EXPECT_EQ(c.ApplyFailingAt(7), 2);
    EXPECT_EQ(c.ch.BaudRate(), 4800);  // applied before the device pair
    EXPECT_STREQ(c.ch.DeviceName(), "COM1");
    EXPECT_EQ(c.Stored(), "device = COM1");
  }
  {
    SCOPED_TRACE("stored text");
    Channel c;
    EXPECT_EQ(c.ApplyFailingAt(8), 2);
    EXPECT_EQ(c.ch.BaudRate(), 4800);
    EXPECT_STREQ(c.ch.DeviceName(), "COM2");
    EXPECT_EQ(c.Stored(), "device = COM1");
  }
  Channel c;
  EXPECT_EQ(c.ApplyFailingAt(9), 0);  // the count above is complete
  EXPECT_EQ(c.Stored(), kText);
}

TEST(SettingsQuotedKey, QuotedWordIsAKeyButAQuotedEqualsSignIsNoEquals) {
  Channel c;
  c.ch.SetSettings("\"BAUD\" = 2400 \"device\" = \"COM 3\"");
  EXPECT_EQ(c.ch.BaudRate(), 2400);
  EXPECT_STREQ(c.ch.DeviceName(), "COM 3");
  c.ch.SetSettings("device \"=\" COM4");  // no pair: nothing changes
  EXPECT_STREQ(c.ch.DeviceName(), "COM 3");
  EXPECT_EQ(c.Stored(), "\"BAUD\" = 2400 \"device\" = \"COM 3\"");
  int code = 0;
  try {
    c.ch.SetSettings("\"=\" = COM4");  // the quoted equals sign is the key
  } catch (const GeneralException& e) {
    code = e.GetCode();
  }
  EXPECT_EQ(code, 12);
}

}  // namespace
}  // namespace tarn
