#include "tarn/channel/settings_reader.h"

#include <cstring>
#include <new>

#include "serial/ascii.h"
#include "tarn/channel/settings_list.h"

namespace tarn {
namespace {

// Reads the number of a "baud" or "data" value; 0 means rejected.
uint32_t ReadNumber(const char* value, NumberRule rule) {
  if (rule == NumberRule::kStrtoul32) return ReadStrtoul32(value);
  return static_cast<uint32_t>(ReadAtoi32(value));
}

void ApplyPair(const CSettingsPair& pair, NumberRule rule, LineSettings& line) {
  const char* key = pair.Key();
  const char* value = pair.Value();
  if (serial::EqualsNoCase(key, "device")) {
    char* copy = new (std::nothrow) char[pair.valueLength + static_cast<size_t>(1)];
    if (copy == nullptr) throw GeneralException(kChannelNoMemory);
    std::memcpy(copy, value, pair.valueLength + static_cast<size_t>(1));
    delete[] line.deviceName;
    line.deviceName = copy;
  } else if (serial::EqualsNoCase(key, "baud")) {
    uint32_t rate = ReadNumber(value, rule);
    if (rule == NumberRule::kAtoi16) rate &= 0xFFFFu;
    if (rate == 0) throw GeneralException(kChannelBadValue);
    line.baudRate.Set(rate);
  } else if (serial::EqualsNoCase(key, "parity")) {
    static const char* const kParity[] = {"no", "odd", "even", "mark"};
    for (uint8_t code = 0; code < 4; ++code) {
      if (serial::EqualsNoCase(value, kParity[code])) {
        line.parityCode = code;
        return;
      }
    }
    throw GeneralException(kChannelBadValue);
  } else if (serial::EqualsNoCase(key, "data")) {
    uint32_t bits = ReadNumber(value, rule);
    if (bits == 0) throw GeneralException(kChannelBadValue);
    line.dataBits = static_cast<uint8_t>(bits);
  } else if (serial::EqualsNoCase(key, "stop")) {
    static const char* const kStop[] = {"1", "1.5", "2"};
    for (uint8_t code = 0; code < 3; ++code) {
      if (std::strcmp(value, kStop[code]) == 0) {
        line.stopBitsCode = code;
        return;
      }
    }
    throw GeneralException(kChannelBadValue);
  } else {
    throw GeneralException(kChannelUnknownKey);
  }
}

}  // namespace

bool ApplySettingsText(const char* text, NumberRule rule, LineSettings& line) {
  if (text == nullptr) return false;
  CSettingsList list;
  if (list.Parse(text) == 0) return false;
  for (const CSettingsPair* pair = list.GetFirst(); pair != nullptr; pair = pair->GetNext())
    ApplyPair(*pair, rule, line);
  return true;
}

}  // namespace tarn
