// The settings guard; see settings_check.h for the rules.
#include "settings_check.h"

#include <cstdint>
#include <set>
#include <vector>

#include "errors.h"
#include "serial/ascii.h"
#include "serial/numbers.h"
#include "serial/port_name.h"
#include "serial/rates.h"
#include "serial/remote_port.h"
#include "serial/settings_grammar.h"

namespace tarnctl {
namespace {

struct RawToken {
  std::string text;
  bool equals = false;
};

// Tokens as the download server reads them; false for an unclosed quote.
bool Tokens(const std::string& s, std::vector<RawToken>* out) {
  std::string_view rest = serial::UpToNul(s);
  serial::SettingsToken token;
  while (serial::NextSettingsToken(rest, &token, serial::SettingsDialect::kChannel)) {
    if (!token.closed) return false;
    out->push_back({std::string(token.text), token.IsEquals()});
  }
  return true;
}

struct Pair {
  std::string key, value;
  bool missing = false;  // "key =" followed by the next key, or nothing
};

// key = value pairs; a value that is followed by "=" is the next key, so
// the key before it has no value. Returns "" or what is wrong.
std::string Pairs(const std::vector<RawToken>& t, std::vector<Pair>* out) {
  for (size_t i = 0; i < t.size();) {
    if (t[i].equals) return "\"=\" where a key is expected";
    if (i + 1 >= t.size() || !t[i + 1].equals)
      return "the key " + t[i].text + " has no \"= value\"";
    bool valueFollows =
        i + 2 < t.size() && !t[i + 2].equals && !(i + 3 < t.size() && t[i + 3].equals);
    if (!valueFollows) {
      out->push_back({t[i].text, "", true});
      i += 2;
      continue;
    }
    out->push_back({t[i].text, t[i + 2].text, false});
    i += 3;
  }
  return {};
}

// What a value must be, or "" when it is fine.
std::string ValueRule(const std::string& key, const std::string& value) {
  if (key == "device") {
    if (value.empty()) return "a port name such as COM1 or /dev/ttyUSB0";
    std::string why;
    serial::RemotePort remote;
    if (serial::IsRemotePortName(value))
      return serial::ParseRemotePort(value, &remote, &why) ? "" : "rfc2217://HOST:PORT: " + why;
    return serial::ParsePortName(value).kind == serial::PortNameKind::kBadPort
               ? "the ports are COM1 to COM256"
               : "";
  }
  uint64_t rate = 0;
  if (key == "baud")
    return serial::ParseDecimal(value, UINT32_MAX, &rate) &&
                   serial::IsStandardRate(static_cast<uint32_t>(rate))
               ? ""
               : "a standard rate such as 9600, 19200 or 115200";
  if (key == "data") return value.size() == 1 && value[0] >= '5' && value[0] <= '8' ? "" : "5 to 8";
  if (key == "parity") {
    std::string v = serial::LowerAscii(value);
    return v == "no" || v == "odd" || v == "even" || v == "mark" ? "" : "no, odd, even or mark";
  }
  if (key == "stop") return value == "1" || value == "1.5" || value == "2" ? "" : "1, 1.5 or 2";
  return "unknown key; the keys are device, baud, data, parity and stop";
}

}  // namespace

void CheckSettings(const std::string& text, const std::string& where) {
  const std::string hint =
      "example: \"device = /dev/ttyUSB0 baud = 9600 data = 8 parity = no stop = 1\"";
  std::vector<RawToken> tokens;
  if (!Tokens(text, &tokens))
    throw Error(kExitUsage, "bad port settings in " + where + ": a quote is not closed", hint);
  std::vector<Pair> pairs;
  std::string wrong = Pairs(tokens, &pairs);
  if (!wrong.empty()) throw Error(kExitUsage, "bad port settings in " + where + ": " + wrong, hint);
  std::set<std::string> seen;
  for (const Pair& p : pairs) {
    std::string key = serial::LowerAscii(p.key);
    std::string named = "bad port settings in " + where + ": " + p.key + " = ";
    if (p.missing) throw Error(kExitUsage, named + "(no value)", hint);
    if (!seen.insert(key).second)
      throw Error(kExitUsage, "bad port settings in " + where + ": " + p.key + " is given twice",
                  hint);
    std::string rule = ValueRule(key, p.value);
    if (!rule.empty()) throw Error(kExitUsage, named + "\"" + p.value + "\" (" + rule + ")", hint);
  }
  if (!seen.count("device"))
    throw Error(kExitUsage, "bad port settings in " + where + ": no device", hint);
}

std::string WithDevice(const std::string& dialogText, const std::string& device) {
  std::vector<RawToken> tokens;
  std::vector<Pair> pairs;
  if (!Tokens(dialogText, &tokens) || !Pairs(tokens, &pairs).empty()) return dialogText;
  for (const Pair& p : pairs)
    if (serial::LowerAscii(p.key) == "device" && !p.value.empty())
      return dialogText;  // the user chose a port
  std::string out = "device = " + serial::QuoteSettingsValue(device);
  for (const Pair& p : pairs)
    if (serial::LowerAscii(p.key) != "device")
      out += " " + serial::QuoteSettingsValue(p.key) + " = " + serial::QuoteSettingsValue(p.value);
  return out;
}

}  // namespace tarnctl
