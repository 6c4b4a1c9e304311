// Parsing of pagersim's command-line values: bytes, fixed-size fields and
// fault specifications. Each returns false with a message on bad input.
#ifndef TOOLS_PAGERSIM_CLI_OPTIONS_H
#define TOOLS_PAGERSIM_CLI_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pagersim/pager.h"

namespace pagersim {

// "0x8B", "139", "0213" (octal is not accepted: leading zeros are decimal),
// or a single character such as "O" or "Y".
bool ParseByte(const std::string& text, uint8_t* value, std::string* error);

// A fixed-size field: "hex:" followed by hex digits (spaces allowed), or plain
// text. Shorter values are padded with zero bytes; longer ones are refused.
bool ParseField(const std::string& text, size_t size, std::vector<uint8_t>* bytes,
                std::string* error);

// "STEP:KIND[:BYTE][:COUNT]", e.g. "wake:wrong:0x00", "first-ack:silence",
// "any:echo::0" (COUNT 0: always). Steps and kinds by their names in pager.h.
bool ParseFault(const std::string& text, Fault* fault, std::string* error);

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_CLI_OPTIONS_H
