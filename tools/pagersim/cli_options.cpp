#include "tools/pagersim/cli_options.h"

#include <cctype>
#include <cstdlib>

#include "serial/numbers.h"

namespace pagersim {

namespace {

// Decimal or 0x hex up to limit (serial/numbers.h).
bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* value) {
  uint64_t number = 0;
  if (!serial::ParseNumber(text, limit, &number)) return false;
  *value = static_cast<unsigned long>(number);
  return true;
}

}  // namespace

bool ParseByte(const std::string& text, uint8_t* value, std::string* error) {
  unsigned long number = 0;
  if (ParseNumber(text, 0xFF, &number)) {
    *value = static_cast<uint8_t>(number);
    return true;
  }
  if (text.size() == 1 && !std::isdigit(static_cast<unsigned char>(text[0]))) {
    *value = static_cast<uint8_t>(text[0]);
    return true;
  }
  *error = "'" + text + "' is not a byte (0..255, 0x00..0xFF or one character)";
  return false;
}

bool ParseField(const std::string& text, size_t size, std::vector<uint8_t>* bytes,
                std::string* error) {
  std::vector<uint8_t> out;
  if (text.rfind("hex:", 0) == 0) {
    std::string digits;
    for (char c : text.substr(4)) {
      if (c == ' ') continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) {
        *error = "'" + text + "': not a hex digit: '" + std::string(1, c) + "'";
        return false;
      }
      digits += c;
    }
    if (digits.size() % 2 != 0) {
      *error = "'" + text + "': odd number of hex digits";
      return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2)
      out.push_back(static_cast<uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
  } else {
    out.assign(text.begin(), text.end());
  }
  if (out.size() > size) {
    *error = "'" + text + "' is " + std::to_string(out.size()) + " bytes, at most " +
             std::to_string(size) + " allowed";
    return false;
  }
  out.resize(size, 0);
  *bytes = std::move(out);
  return true;
}

bool ParseFault(const std::string& text, Fault* fault, std::string* error) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 4) {
    *error = "fault '" + text + "' is not STEP:KIND[:BYTE][:COUNT]";
    return false;
  }
  Fault result;
  auto step = StepFromString(parts[0]);
  if (!step) {
    *error = "fault '" + text + "': unknown step '" + parts[0] + "'";
    return false;
  }
  auto kind = FaultKindFromString(parts[1]);
  if (!kind) {
    *error = "fault '" + text + "': unknown kind '" + parts[1] +
             "' (silence, wrong, drop, echo, disconnect)";
    return false;
  }
  result.step = *step;
  result.kind = *kind;
  if (parts.size() >= 3 && !parts[2].empty()) {
    if (!ParseByte(parts[2], &result.byte, error)) return false;
  } else if (result.kind == FaultKind::kWrongByte) {
    *error = "fault '" + text + "': 'wrong' needs the byte to send";
    return false;
  }
  if (parts.size() == 4) {
    unsigned long count = 0;
    if (!ParseNumber(parts[3], 1000000, &count)) {
      *error = "fault '" + text + "': bad count '" + parts[3] + "'";
      return false;
    }
    result.count = static_cast<int>(count);
  }
  *fault = result;
  return true;
}

}  // namespace pagersim
