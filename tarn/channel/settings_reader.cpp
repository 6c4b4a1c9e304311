#include "tarn/channel/settings_reader.h"

#include <climits>
#include <cstring>
#include <new>

#include "tarn/channel/settings_list.h"

namespace tarn {
namespace {

// White space as the C conversions skip it: bytes 9 to 13 and the space.
bool IsNumberSpace(unsigned char c) {
  return (c >= 9 && c <= 13) || c == ' ';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

unsigned char Lower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Compares two texts without regard to the case of ASCII letters; other
// bytes must match exactly.
bool EqualsNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    if (Lower(static_cast<unsigned char>(*a)) != Lower(static_cast<unsigned char>(*b)))
      return false;
    if (*a == '\0') return true;
  }
}

// Reads the number of a "baud" or "data" value; 0 means rejected.
uint32_t ReadNumber(const char* value, NumberRule rule) {
  if (rule == NumberRule::kStrtoul32) return ReadStrtoul32(value);
  return static_cast<uint32_t>(ReadAtoi32(value));
}

void ApplyPair(const CSettingsPair& pair, NumberRule rule, LineSettings& line) {
  const char* key = pair.Key();
  const char* value = pair.Value();
  if (EqualsNoCase(key, "device")) {
    char* copy = new (std::nothrow) char[pair.valueLength + static_cast<size_t>(1)];
    if (copy == nullptr) throw GeneralException(kChannelNoMemory);
    std::memcpy(copy, value, pair.valueLength + static_cast<size_t>(1));
    delete[] line.deviceName;
    line.deviceName = copy;
  } else if (EqualsNoCase(key, "baud")) {
    uint32_t rate = ReadNumber(value, rule);
    if (rule == NumberRule::kAtoi16) rate &= 0xFFFFu;
    if (rate == 0) throw GeneralException(kChannelBadValue);
    line.baudRate.Set(rate);
  } else if (EqualsNoCase(key, "parity")) {
    static const char* const kParity[] = {"no", "odd", "even", "mark"};
    for (uint8_t code = 0; code < 4; ++code) {
      if (EqualsNoCase(value, kParity[code])) {
        line.parityCode = code;
        return;
      }
    }
    throw GeneralException(kChannelBadValue);
  } else if (EqualsNoCase(key, "data")) {
    uint32_t bits = ReadNumber(value, rule);
    if (bits == 0) throw GeneralException(kChannelBadValue);
    line.dataBits = static_cast<uint8_t>(bits);
  } else if (EqualsNoCase(key, "stop")) {
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

uint32_t ReadStrtoul32(const char* text) {
  const char* p = text;
  while (IsNumberSpace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint32_t result = 0;
  bool overflow = false;
  for (; IsDigit(*p); ++p) {
    uint32_t digit = static_cast<uint32_t>(*p - '0');
    if (result > (UINT32_MAX - digit) / 10) overflow = true;
    if (!overflow) result = result * 10 + digit;
  }
  if (overflow) return UINT32_MAX;
  return negative ? 0u - result : result;
}

int32_t ReadAtoi32(const char* text) {
  const char* p = text;
  while (IsNumberSpace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Accumulate the magnitude in 64 bits and saturate at the int range.
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t{1} << 31 : uint64_t{INT32_MAX};
  for (; IsDigit(*p); ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > limit) {
      magnitude = limit;
      break;
    }
  }
  if (negative)
    return magnitude == (uint64_t{1} << 31) ? INT32_MIN : -static_cast<int32_t>(magnitude);
  return static_cast<int32_t>(magnitude);
}

bool ApplySettingsText(const char* text, NumberRule rule, LineSettings& line) {
  if (text == nullptr) return false;
  CSettingsList list;
  if (list.Parse(text) == 0) return false;
  for (const CSettingsPair* pair = list.GetFirst(); pair != nullptr; pair = pair->GetNext())
    ApplyPair(*pair, rule, line);
  return true;
}

}  // namespace tarn
