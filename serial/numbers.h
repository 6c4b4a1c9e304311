// Reading numbers from text, by two sets of rules.
//
// The tools' rule (ParseNumber, ParseDecimal): the whole text is the number,
// nothing else: decimal digits, or (ParseNumber only) hexadecimal digits
// after "0x" or "0X". No sign, no blanks, at least one digit; a leading zero
// never makes a number octal. A value above `max` (or above 64 bits) is
// refused, never cut down.
//
// The channel's rule (ReadStrtoul32, ReadAtoi32): the C conversions a port
// settings string has always been read with, lenient by design: leading
// white space (bytes 9 to 13 and the space), an optional sign, then decimal
// digits up to the first other byte; no digits read as 0.
#ifndef SERIAL_NUMBERS_H
#define SERIAL_NUMBERS_H

#include <cstdint>
#include <string_view>

namespace serial {

// Decimal or 0x hex, 0..max. False (out untouched) for anything else.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* out);

// Decimal only, 0..max. False (out untouched) for anything else.
bool ParseDecimal(std::string_view text, uint64_t max, uint64_t* out);

// As strtoul in base 10 with a 32-bit result: overflow gives 0xFFFFFFFF; a
// minus sign negates modulo 2^32.
uint32_t ReadStrtoul32(const char* text);

// As atoi with a 32-bit int, saturating at INT32_MIN and INT32_MAX.
int32_t ReadAtoi32(const char* text);

}  // namespace serial

#endif  // SERIAL_NUMBERS_H
