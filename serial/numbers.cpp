#include "serial/numbers.h"

#include <climits>

namespace serial {
namespace {

// White space as the C conversions skip it: bytes 9 to 13 and the space.
bool IsNumberSpace(unsigned char c) {
  return (c >= 9 && c <= 13) || c == ' ';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The value of one digit in `base` (10 or 16), or -1.
int DigitValue(char c, unsigned base) {
  if (IsDigit(c)) return c - '0';
  if (base != 16) return -1;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDigits(std::string_view digits, unsigned base, uint64_t max, uint64_t* out) {
  if (digits.empty()) return false;
  uint64_t value = 0;
  for (char c : digits) {
    const int d = DigitValue(c, base);
    if (d < 0) return false;
    if (value > (max - static_cast<uint64_t>(d)) / base) return false;  // above max
    value = value * base + static_cast<uint64_t>(d);
  }
  *out = value;
  return true;
}

}  // namespace

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseDigits(text.substr(2), 16, max, out);
  return ParseDigits(text, 10, max, out);
}

bool ParseDecimal(std::string_view text, uint64_t max, uint64_t* out) {
  return ParseDigits(text, 10, max, out);
}

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

}  // namespace serial
