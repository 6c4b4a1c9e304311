// Fuzzes the port settings reader: tokens, pairing and applying a text with
// both number rules, and a closed direct channel's SetSettings. The input is
// copied into a block of exactly its size plus the terminator, so any read
// past the terminator is caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tarn/channel/direct_serial_channel.h"
#include "tarn/channel/settings_list.h"
#include "tarn/channel/settings_reader.h"

using namespace tarn;

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The text ends at its first NUL, as a C string does.
  size_t length = 0;
  while (length < size && data[length] != 0) ++length;
  std::vector<char> text(data, data + length);
  text.push_back('\0');
  const char* begin = text.data();
  const char* end = begin + length;

  SettingsToken token;
  for (const char* c = begin; (c = ReadSettingsToken(c, &token)) != nullptr;) {
    Check(token.first >= begin && token.first + token.length <= end);
    Check(c > begin && c <= end);
  }

  CSettingsList list;
  uint32_t count = list.Parse(begin);
  uint32_t seen = 0;
  for (CSettingsPair* p = list.GetFirst(); p != nullptr; p = p->GetNext(), ++seen) {
    Check(std::strlen(p->Key()) == p->GetKeyLength());
    Check(std::strlen(p->Value()) == p->GetValueLength());
    char small[3];
    Check(p->GetValue(small, sizeof small) <= sizeof small);
  }
  Check(seen == count);

  for (NumberRule rule : {NumberRule::kStrtoul32, NumberRule::kAtoi16}) {
    char* device = nullptr;
    uint32_t baud = 9600;
    uint16_t narrowBaud = 9600;
    uint8_t parity = 0, dataBits = 8, stop = 0;
    LineSettings wide{device, baud, parity, dataBits, stop};
    LineSettings narrow{device, narrowBaud, parity, dataBits, stop};
    try {
      ApplySettingsText(begin, rule, rule == NumberRule::kAtoi16 ? narrow : wide);
    } catch (const GeneralException& e) {
      Check(e.GetCode() == kChannelUnknownKey || e.GetCode() == kChannelBadValue ||
            e.GetCode() == kChannelNoMemory);
    }
    // The data bits keep the low 8 bits of any nonzero number, so
    // "data = 256" leaves 0 (the port then refuses to open); the codes of
    // parity and stop bits and the baud rate are always valid.
    Check(parity <= 3 && stop <= 2 && baud != 0 && narrowBaud != 0);
    delete[] device;
  }

  CDirectSerialChannel channel;
  try {
    channel.SetSettings(begin);
    if (count != 0) Check(channel.GetSettingsLength() == length);
  } catch (const GeneralException& e) {
    Check(e.GetCode() == kChannelUnknownKey || e.GetCode() == kChannelBadValue);
  }
  Check(!channel.IsOpen());
  return 0;
}
