#include "holm/dialogs/settings_tokens.h"

namespace holm::dialogs {

bool NextSettingsToken(std::string& token, std::string_view& rest, bool* quoted) {
  serial::SettingsToken read;
  const bool found = serial::NextSettingsToken(rest, &read, serial::SettingsDialect::kDialogs);
  token.assign(read.text);
  if (quoted != nullptr) *quoted = read.quoted;
  return found;
}

SettingsMap ParseSettings(std::string_view text) {
  SettingsMap map;
  serial::SettingsPairReader reader(text, serial::SettingsDialect::kDialogs);
  serial::SettingsPair pair;
  while (reader.Next(&pair)) map[std::string(pair.key)] = std::string(pair.value);
  return map;
}

std::string SettingValue(const SettingsMap& map, const std::string& key) {
  auto it = map.find(key);
  return it == map.end() ? std::string() : it->second;
}

}  // namespace holm::dialogs
