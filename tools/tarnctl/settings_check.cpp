// The settings guard; see settings_check.h for the rules.
#include "settings_check.h"

#include <cctype>
#include <set>
#include <vector>

#include "errors.h"

namespace tarnctl {
namespace {

struct RawToken {
  std::string text;
  bool equals = false;
};

bool IsSeparator(char c) {
  return c == ' ' || (c >= 7 && c <= 13);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Tokens as the download server reads them; false for an unclosed quote.
bool Tokens(const std::string& s, std::vector<RawToken>* out) {
  size_t i = 0;
  while (i < s.size() && s[i] != '\0') {
    if (IsSeparator(s[i])) {
      ++i;
    } else if (s[i] == '"') {
      size_t end = s.find('"', i + 1);
      if (end == std::string::npos) return false;
      out->push_back({s.substr(i + 1, end - i - 1), false});
      i = end + 1;
    } else if (s[i] == '=') {
      out->push_back({"=", true});
      ++i;
    } else {
      size_t j = i;
      while (j < s.size() && !IsSeparator(s[j]) && s[j] != '"' && s[j] != '=' && s[j] != '\0') ++j;
      out->push_back({s.substr(i, j - i), false});
      i = j;
    }
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

std::string Quoted(const std::string& v) {
  bool plain = !v.empty();
  for (char c : v)
    if (IsSeparator(c) || c == '=' || c == '"') plain = false;
  return plain ? v : "\"" + v + "\"";
}

bool AllDigits(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// What a value must be, or "" when it is fine.
std::string ValueRule(const std::string& key, const std::string& value) {
  static const std::set<unsigned long> kRates = {
      50,     75,      110,     134,     150,     200,     300,     600,     1200,   1800,   2400,
      4800,   9600,    14400,   19200,   38400,   57600,   115200,  230400,  460800, 500000, 576000,
      921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
  if (key == "device") return value.empty() ? "a port name such as COM1 or /dev/ttyUSB0" : "";
  if (key == "baud")
    return AllDigits(value) && kRates.count(std::stoul(value))
               ? ""
               : "a standard rate such as 9600, 19200 or 115200";
  if (key == "data") return value.size() == 1 && value[0] >= '5' && value[0] <= '8' ? "" : "5 to 8";
  if (key == "parity") {
    std::string v = Lower(value);
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
    std::string key = Lower(p.key);
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
    if (Lower(p.key) == "device" && !p.value.empty()) return dialogText;  // the user chose a port
  std::string out = "device = " + Quoted(device);
  for (const Pair& p : pairs)
    if (Lower(p.key) != "device") out += " " + Quoted(p.key) + " = " + Quoted(p.value);
  return out;
}

}  // namespace tarnctl
