#include "holm/dialogs/settings_tokens.h"

namespace holm::dialogs {

bool NextSettingsToken(std::string& token, std::string_view& rest, bool* quoted) {
  token.clear();
  if (quoted != nullptr) *quoted = false;
  // Only the space character is a blank; tabs and line ends are ordinary.
  size_t at = rest.find_first_not_of(' ');
  if (at == std::string_view::npos) {
    rest = {};
    return false;
  }
  rest.remove_prefix(at);
  if (rest.front() == '=') {
    token.assign(1, '=');
    rest.remove_prefix(1);
    return true;
  }
  if (rest.front() == '"') {
    rest.remove_prefix(1);
    size_t end = rest.find('"');
    if (quoted != nullptr) *quoted = true;
    if (end == std::string_view::npos) {
      token.assign(rest);
      rest = {};
    } else {
      token.assign(rest.substr(0, end));
      rest.remove_prefix(end + 1);
    }
    return true;
  }
  // The run ends at the next blank or "=", and the character that ends it
  // is consumed with it.
  size_t end = rest.find_first_of(" =");
  if (end == std::string_view::npos) {
    token.assign(rest);
    rest = {};
  } else {
    token.assign(rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  return true;
}

SettingsMap ParseSettings(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  SettingsMap map;
  std::string key;
  std::string token;
  bool quoted = false;
  int state = 0;
  while (NextSettingsToken(token, text, &quoted)) {
    const bool equals = !quoted && token == "=";
    switch (state) {
      case 0:
        key = token;
        state = 1;
        break;
      case 1:
        state = equals ? 2 : 0;
        break;
      default:
        map[key] = token;
        state = 0;
        break;
    }
  }
  return map;
}

std::string SettingValue(const SettingsMap& map, const std::string& key) {
  auto it = map.find(key);
  return it == map.end() ? std::string() : it->second;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace holm::dialogs
