// Reading and applying a port settings string to a channel's line settings.
//
// Keys (without regard to letter case) and accepted values:
//   device  any token: the device name
//   baud    a decimal number, not 0
//   parity  no | odd | even | mark        -> parity code 0..3
//   data    a decimal number, not 0; its low 8 bits are kept
//   stop    1 | 1.5 | 2                   -> stop-bits code 0..2
// Another key raises channel code 12, an unacceptable value code 13, and a
// failed allocation code 2. Pairs are applied from the last one in the text
// back to the first, so a key given twice keeps its first value; pairs
// applied before a failure keep their effect.
#ifndef TARN_CHANNEL_SETTINGS_READER_H
#define TARN_CHANNEL_SETTINGS_READER_H

#include <cstdint>

#include "serial/numbers.h"
#include "tarn/channel/general_exception.h"

namespace tarn {

// How "baud" and "data" values are read as numbers.
enum class NumberRule {
  // As strtoul in base 10 with a 32-bit result: leading white space, an
  // optional sign, digits up to the first non-digit; overflow gives
  // 0xFFFFFFFF; a minus sign negates modulo 2^32. The baud rate keeps all
  // 32 bits. Used by the direct channel.
  kStrtoul32,
  // As atoi with a 32-bit int (saturating at INT_MIN/INT_MAX); the baud
  // rate keeps the low 16 bits and is rejected when they are 0. Used by
  // the thunked channel.
  kAtoi16,
};

// Reads a value by the given rule: the number the conversion yields
// (serial/numbers.h).
using serial::ReadAtoi32;
using serial::ReadStrtoul32;

// A reference to a channel's baud rate field, 16 or 32 bits wide.
class BaudField {
 public:
  BaudField(uint32_t& field) : wide(&field) {}  // NOLINT: converts implicitly by design
  BaudField(uint16_t& field) : narrow(&field) {}
  operator uint32_t() const { return wide != nullptr ? *wide : *narrow; }
  void Set(uint32_t rate) {
    if (wide != nullptr)
      *wide = rate;
    else
      *narrow = static_cast<uint16_t>(rate);
  }

 private:
  uint32_t* wide = nullptr;
  uint16_t* narrow = nullptr;
};

// The line settings of a channel, referred to in place: each pair the reader
// applies changes the channel's own field at once, so the effect of pairs
// applied before a failure stays. deviceName is the channel's heap copy
// (new[]); the reader replaces it with a new copy and frees the old one.
struct LineSettings {
  char*& deviceName;
  BaudField baudRate;
  uint8_t& parityCode;
  uint8_t& dataBits;
  uint8_t& stopBitsCode;
};

// Reads `text` and applies its pairs to `line`. Returns false when the text
// holds no complete pair (or is null): then nothing changes. Raises
// GeneralException with code 2, 12 or 13 as above.
bool ApplySettingsText(const char* text, NumberRule rule, LineSettings& line);

}  // namespace tarn

#endif  // TARN_CHANNEL_SETTINGS_READER_H
