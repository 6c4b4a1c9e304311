#include "serial/settings_grammar.h"

namespace serial {
namespace {

bool IsSeparator(char c, SettingsDialect dialect) {
  return dialect == SettingsDialect::kChannel ? IsSettingsSeparator(c) : c == ' ';
}

// A quoted token; `rest` starts after the opening quote.
void TakeQuoted(std::string_view& rest, SettingsToken* token) {
  const size_t end = rest.find('"');
  token->quoted = true;
  token->closed = end != std::string_view::npos;
  token->text = rest.substr(0, end);
  rest.remove_prefix(token->closed ? end + 1 : rest.size());
}

// A plain run of the dialect.
void TakePlain(std::string_view& rest, SettingsToken* token, SettingsDialect dialect) {
  size_t end = 0;
  if (dialect == SettingsDialect::kChannel) {
    while (end < rest.size() && rest[end] != '"' && rest[end] != '=' &&
           !IsSettingsSeparator(rest[end]))
      ++end;
    token->text = rest.substr(0, end);
    rest.remove_prefix(end);
    return;
  }
  // The dialogs' run ends at a space or "=", and consumes it.
  end = rest.find_first_of(" =");
  token->text = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
}

}  // namespace

std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

bool NextSettingsToken(std::string_view& rest, SettingsToken* token, SettingsDialect dialect) {
  *token = SettingsToken{};
  size_t at = 0;
  while (at < rest.size() && IsSeparator(rest[at], dialect)) ++at;
  rest.remove_prefix(at);
  if (rest.empty()) return false;
  if (rest.front() == '=') {
    token->text = rest.substr(0, 1);
    rest.remove_prefix(1);
  } else if (rest.front() == '"') {
    rest.remove_prefix(1);
    TakeQuoted(rest, token);
  } else {
    TakePlain(rest, token, dialect);
  }
  return true;
}

SettingsPairReader::SettingsPairReader(std::string_view text, SettingsDialect dialect)
    : rest_(UpToNul(text)), dialect_(dialect) {}

bool SettingsPairReader::Next(SettingsPair* pair) {
  enum { kWantKey, kHaveKey, kWantValue } state = kWantKey;
  SettingsToken token;
  std::string_view key;
  const bool channel = dialect_ == SettingsDialect::kChannel;
  while (NextSettingsToken(rest_, &token, dialect_)) {
    switch (state) {
      case kWantKey:
        if (channel && token.IsEquals()) break;  // "=" where a key belongs
        key = token.text;
        state = kHaveKey;
        break;
      case kHaveKey:
        if (token.IsEquals()) {
          state = kWantValue;
        } else if (channel) {
          key = token.text;  // the earlier word had no value
        } else {
          state = kWantKey;  // the dialogs drop both words
        }
        break;
      case kWantValue:
        if (channel && token.IsEquals()) break;  // several "=" count as one
        *pair = {key, token.text};
        return true;
    }
  }
  return false;
}

std::string QuoteSettingsValue(std::string_view value) {
  bool plain = !value.empty();
  for (char c : value)
    if (IsSettingsSeparator(c) || c == '=' || c == '"') plain = false;
  std::string out(value);
  return plain ? out : "\"" + out + "\"";
}

}  // namespace serial
