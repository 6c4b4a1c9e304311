// The port settings string: tokens, pairing, number rules and applying a
// text to a channel's line settings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarn/channel/direct_serial_channel.h"
#include "tarn/channel/settings_list.h"
#include "tarn/channel/settings_reader.h"

namespace tarn {
namespace {

std::vector<std::string> Tokens(const char* text) {
  std::vector<std::string> out;
  SettingsToken token;
  for (const char* c = text; (c = ReadSettingsToken(c, &token)) != nullptr;)
    out.push_back((token.quoted ? "Q:" : "") + std::string(token.first, token.length));
  return out;
}

std::vector<std::pair<std::string, std::string>> Pairs(const char* text) {
  CSettingsList list;
  uint32_t count = list.Parse(text);
  std::vector<std::pair<std::string, std::string>> out;
  for (CSettingsPair* p = list.GetFirst(); p != nullptr; p = p->GetNext())
    out.insert(out.begin(), {p->Key(), p->Value()});  // back into text order
  EXPECT_EQ(count, out.size());
  return out;
}

using P = std::vector<std::pair<std::string, std::string>>;

TEST(SettingsTokens, SeparatorsQuotesAndEquals) {
  EXPECT_EQ(Tokens("a=b"), (std::vector<std::string>{"a", "=", "b"}));
  EXPECT_EQ(Tokens("\a\b\t\n\v\f\r a \x0e"), (std::vector<std::string>{"a", "\x0e"}));
  EXPECT_EQ(Tokens("x\"a b=c\"y"), (std::vector<std::string>{"x", "Q:a b=c", "y"}));
  EXPECT_EQ(Tokens("=="), (std::vector<std::string>{"=", "="}));
  EXPECT_TRUE(Tokens("").empty());
  EXPECT_TRUE(Tokens(" \t\r\n").empty());
}

TEST(SettingsTokens, QuotesWithoutEndStopAtTheTerminator) {
  // The byte after the terminator must never be looked at: place the text
  // at the very end of an exact-size heap block (ASan catches an overrun).
  const char* texts[] = {"\"", "device = \"COM1", "\"\"", "a\"", "\"abc"};
  for (const char* t : texts) {
    size_t n = std::strlen(t) + 1;
    std::vector<char> block(t, t + n);
    std::vector<std::string> tokens = Tokens(block.data());
    ASSERT_FALSE(tokens.empty()) << t;
  }
  EXPECT_EQ(Tokens("device = \"COM1"), (std::vector<std::string>{"device", "=", "Q:COM1"}));
  EXPECT_EQ(Tokens("\"\""), (std::vector<std::string>{"Q:"}));
  EXPECT_EQ(Tokens("\""), (std::vector<std::string>{"Q:"}));
}

TEST(SettingsPairs, PairingMachine) {
  EXPECT_EQ(Pairs("device = COM1 baud = 9600"), (P{{"device", "COM1"}, {"baud", "9600"}}));
  EXPECT_EQ(Pairs("device=COM2"), (P{{"device", "COM2"}}));
  EXPECT_EQ(Pairs("x device = COM1"), (P{{"device", "COM1"}}));
  EXPECT_EQ(Pairs("device = COM1 baud"), (P{{"device", "COM1"}}));
  EXPECT_EQ(Pairs("device == COM1"), (P{{"device", "COM1"}}));
  EXPECT_EQ(Pairs("device = = COM1"), (P{{"device", "COM1"}}));
  EXPECT_EQ(Pairs("= = device = COM1"), (P{{"device", "COM1"}}));
  EXPECT_EQ(Pairs("\"=\" = \"=\""), (P{{"=", "="}}));
  EXPECT_EQ(Pairs("device = \"my port = 2\" baud = 1"),
            (P{{"device", "my port = 2"}, {"baud", "1"}}));
  EXPECT_TRUE(Pairs("").empty());
  EXPECT_TRUE(Pairs("device").empty());
  EXPECT_TRUE(Pairs("device =").empty());
  EXPECT_TRUE(Pairs(nullptr).empty());
}

TEST(SettingsPairs, ListRunsNewestFirstAndParseClears) {
  CSettingsList list;
  ASSERT_EQ(list.Parse("a = 1 b = 2 c = 3"), 3u);
  EXPECT_STREQ(list.GetFirst()->Key(), "c");
  EXPECT_STREQ(list.GetFirst()->GetNext()->GetNext()->Key(), "a");
  EXPECT_EQ(list.GetFirst()->GetNext()->GetNext()->GetNext(), nullptr);
  ASSERT_EQ(list.Parse("z = 9"), 1u);
  EXPECT_STREQ(list.GetFirst()->Key(), "z");
  EXPECT_EQ(list.GetFirst()->GetNext(), nullptr);
  list.Clear();
  EXPECT_EQ(list.GetFirst(), nullptr);
  EXPECT_EQ(list.GetCount(), 0u);
}

TEST(SettingsPairs, CopyOutTruncation) {
  CSettingsList list;
  ASSERT_EQ(list.Parse("device = COM12"), 1u);
  CSettingsPair* pair = list.GetFirst();
  EXPECT_EQ(pair->GetKeyLength(), 6u);
  EXPECT_EQ(pair->GetValueLength(), 5u);
  char buf[16];
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(pair->GetValue(buf, 6), 6u);
  EXPECT_STREQ(buf, "COM12");
  std::memset(buf, 'X', sizeof buf);
  EXPECT_EQ(pair->GetValue(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 4), "COMX");
  EXPECT_EQ(pair->GetKey(buf, 0), 0u);
  EXPECT_EQ(pair->GetKey(buf, 100), 7u);
  EXPECT_STREQ(buf, "device");
}

TEST(SettingsNumbers, StrtoulRule) {
  EXPECT_EQ(ReadStrtoul32("9600"), 9600u);
  EXPECT_EQ(ReadStrtoul32("9600x"), 9600u);
  EXPECT_EQ(ReadStrtoul32("x9600"), 0u);
  EXPECT_EQ(ReadStrtoul32(" \t+42"), 42u);
  EXPECT_EQ(ReadStrtoul32("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadStrtoul32("4294967295"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadStrtoul32("4294967296"), 0xFFFFFFFFu);  // overflow saturates
  EXPECT_EQ(ReadStrtoul32("99999999999999999999"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadStrtoul32(""), 0u);
  EXPECT_EQ(ReadStrtoul32("-"), 0u);
}

TEST(SettingsNumbers, AtoiRule) {
  EXPECT_EQ(ReadAtoi32("65537"), 65537);
  EXPECT_EQ(ReadAtoi32("-7z"), -7);
  EXPECT_EQ(ReadAtoi32("2147483647"), INT32_MAX);
  EXPECT_EQ(ReadAtoi32("2147483648"), INT32_MAX);
  EXPECT_EQ(ReadAtoi32("-2147483648"), INT32_MIN);
  EXPECT_EQ(ReadAtoi32("-99999999999999"), INT32_MIN);
  EXPECT_EQ(ReadAtoi32("abc"), 0);
}

// Line settings of a 16-bit-baud channel, applied with the atoi rule.
struct NarrowLine {
  char* device = nullptr;
  uint16_t baud = 9600;
  uint8_t parity = 0, data = 8, stop = 0;
  ~NarrowLine() { delete[] device; }
  int Apply(const char* text) {
    LineSettings line{device, baud, parity, data, stop};
    try {
      return ApplySettingsText(text, NumberRule::kAtoi16, line) ? 0 : -1;
    } catch (const GeneralException& e) {
      return e.GetCode();
    }
  }
};

TEST(SettingsApply, AtoiRuleWithSixteenBitBaud) {
  NarrowLine l;
  EXPECT_EQ(l.Apply("baud = 65536"), 13);
  EXPECT_EQ(l.baud, 9600);
  EXPECT_EQ(l.Apply("baud = 65537"), 0);
  EXPECT_EQ(l.baud, 1);
  EXPECT_EQ(l.Apply("baud = -1"), 0);  // all 16 bits set
  EXPECT_EQ(l.baud, 0xFFFF);
  EXPECT_EQ(l.Apply("data = 0"), 13);
  EXPECT_EQ(l.Apply("data = 263"), 0);
  EXPECT_EQ(l.data, 7);
  EXPECT_EQ(l.Apply("device = COM4 stop = 2"), 0);
  EXPECT_STREQ(l.device, "COM4");
  EXPECT_EQ(l.stop, 2);
}

int ApplyCode(CDirectSerialChannel& ch, const char* text) {
  try {
    ch.SetSettings(text);
    return 0;
  } catch (const GeneralException& e) {
    return e.GetCode();
  }
}

std::string Stored(CDirectSerialChannel& ch) {
  std::vector<char> buf(ch.GetSettingsLength() + 1);
  uint32_t n = ch.GetSettings(buf.data(), static_cast<uint32_t>(buf.size()));
  return n == 0 ? std::string("<none>") : std::string(buf.data());
}

TEST(SettingsApply, KeysAndWordsIgnoreCaseDeviceKeepsItsLetters) {
  CDirectSerialChannel ch;
  ASSERT_EQ(ApplyCode(ch, "DEVICE = com3 PARITY = ODD stop = 1.5"), 0);
  EXPECT_STREQ(ch.DeviceName(), "com3");
  EXPECT_EQ(ch.ParityCode(), 1);
  EXPECT_EQ(ch.StopBitsCode(), 1);
  EXPECT_EQ(Stored(ch), "DEVICE = com3 PARITY = ODD stop = 1.5");
  ASSERT_EQ(ApplyCode(ch, "parity = Even data = 7 baud = 115200 stop = 2"), 0);
  EXPECT_EQ(ch.ParityCode(), 2);
  EXPECT_EQ(ch.DataBits(), 7);
  EXPECT_EQ(ch.BaudRate(), 115200u);
  EXPECT_EQ(ch.StopBitsCode(), 2);
  EXPECT_STREQ(ch.DeviceName(), "com3");  // keys left out keep their values
  ASSERT_EQ(ApplyCode(ch, "parity = mark stop = 1"), 0);
  EXPECT_EQ(ch.ParityCode(), 3);
  EXPECT_EQ(ch.StopBitsCode(), 0);
  ASSERT_EQ(ApplyCode(ch, "parity = no"), 0);
  EXPECT_EQ(ch.ParityCode(), 0);
}

TEST(SettingsApply, RejectedValuesAndKeys) {
  CDirectSerialChannel ch;
  EXPECT_EQ(ApplyCode(ch, "baud = 9600x"), 0);
  EXPECT_EQ(ch.BaudRate(), 9600u);
  EXPECT_EQ(ApplyCode(ch, "baud = 19200"), 0);
  EXPECT_EQ(ApplyCode(ch, "baud = x9600"), 13);
  EXPECT_EQ(ApplyCode(ch, "baud = 0"), 13);
  EXPECT_EQ(ApplyCode(ch, "baud = -0"), 13);
  EXPECT_EQ(ch.BaudRate(), 19200u);
  EXPECT_EQ(ApplyCode(ch, "speed = 9600"), 12);
  EXPECT_EQ(ApplyCode(ch, "parity = none"), 13);
  EXPECT_EQ(ApplyCode(ch, "stop = 1.50"), 13);
  EXPECT_EQ(ApplyCode(ch, "stop = 3"), 13);
  EXPECT_EQ(ApplyCode(ch, "data = 0"), 13);
  EXPECT_EQ(Stored(ch), "baud = 19200");  // failures keep the stored text
  // 32-bit baud on the direct channel; data keeps the low 8 bits.
  EXPECT_EQ(ApplyCode(ch, "baud = 4000000000 data = 264"), 0);
  EXPECT_EQ(ch.BaudRate(), 4000000000u);
  EXPECT_EQ(ch.DataBits(), 8);
}

TEST(SettingsApply, WalkRunsBackwardsAndKeepsPartialEffect) {
  CDirectSerialChannel ch;
  EXPECT_EQ(ApplyCode(ch, "baud = 2400 baud = 9600"), 0);
  EXPECT_EQ(ch.BaudRate(), 2400u);
  ASSERT_EQ(ApplyCode(ch, "device = COM1"), 0);
  // The walk meets "device" first (it is last in the text), then fails.
  EXPECT_EQ(ApplyCode(ch, "baud = 0 device = COM2"), 13);
  EXPECT_STREQ(ch.DeviceName(), "COM2");
  EXPECT_EQ(ApplyCode(ch, "device = COM3 baud = 0"), 13);
  EXPECT_STREQ(ch.DeviceName(), "COM2");
  EXPECT_EQ(Stored(ch), "device = COM1");
  EXPECT_EQ(ApplyCode(ch, "device = A device = B"), 0);
  EXPECT_STREQ(ch.DeviceName(), "A");
}

TEST(SettingsApply, TextsWithoutPairsChangeNothing) {
  CDirectSerialChannel ch;
  EXPECT_EQ(Stored(ch), "<none>");
  ASSERT_EQ(ApplyCode(ch, "device = COM1"), 0);
  EXPECT_EQ(ApplyCode(ch, ""), 0);
  EXPECT_EQ(ApplyCode(ch, "device"), 0);
  EXPECT_EQ(ApplyCode(ch, " = = "), 0);
  EXPECT_EQ(ApplyCode(ch, nullptr), 0);
  EXPECT_EQ(Stored(ch), "device = COM1");
  EXPECT_STREQ(ch.DeviceName(), "COM1");
  EXPECT_EQ(ApplyCode(ch, "device = COM1 baud"), 0);
  EXPECT_EQ(Stored(ch), "device = COM1 baud");
}

TEST(SettingsApply, QuotedDeviceKeepsBlanksAndEquals) {
  CDirectSerialChannel ch;
  ASSERT_EQ(ApplyCode(ch, "device = \"/dev/my port=2\" baud = 1200"), 0);
  EXPECT_STREQ(ch.DeviceName(), "/dev/my port=2");
  // Without quotes a blank ends the value; the dangling "port" is dropped.
  ASSERT_EQ(ApplyCode(ch, "device = /dev/my port"), 0);
  EXPECT_STREQ(ch.DeviceName(), "/dev/my");
}

TEST(SettingsApply, DialogFormsAreAccepted) {
  const char* bauds[] = {"110",   "300",   "1200",  "2400",  "4800",   "9600",   "14400",
                         "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
  for (const char* baud : bauds) {
    for (const char* parity : {"no", "odd", "even", "mark"}) {
      for (const char* stop : {"1", "1.5", "2"}) {
        CDirectSerialChannel ch;
        std::string text = std::string("device = COM8 baud = ") + baud +
                           " data = 7 parity = " + parity + " stop = " + stop;
        EXPECT_EQ(ApplyCode(ch, text.c_str()), 0) << text;
        EXPECT_EQ(ch.BaudRate(), std::stoul(baud));
      }
    }
  }
}

}  // namespace
}  // namespace tarn
