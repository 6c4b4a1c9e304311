// The grammar of a port settings string: tokens and key = value pairs, for
// example 'device = COM1 baud = 9600 data = 8 parity = no stop = 1'.
//
// Every reader ends the text at its first NUL byte. A token that begins with
// a double quote runs to the next double quote (blanks and "=" inside are
// ordinary); the quotes do not belong to the token, a missing closing quote
// ends the token at the end of the text, and a quoted token is never the
// "=" token. Two dialects differ in the rest:
//
// kChannel, how the channel (and everything that predicts what the channel
// will do) reads the text:
//   - bytes 7 to 13 and the space separate tokens;
//   - "=" is a token of its own wherever it stands; a plain token ends at a
//     separator, "=" or a double quote;
//   - pairs: a token is a key, the next "=" (several count as one) asks for
//     a value, the next other token is the value. A key followed by another
//     word is dropped and the word becomes the key; a key still waiting at
//     the end is dropped.
//
// kDialogs, how the settings dialogs read it (stricter, and relied on):
//   - only the space separates tokens; tabs and line ends are ordinary;
//   - a plain token ends at a space or "=", and that character is consumed
//     with it, so in 'device=COM1' the "=" ends the key and no value is
//     stored; a double quote inside a word is ordinary;
//   - pairs: any token is a key; the token after it must be "=" (otherwise
//     both are dropped); the token after "=" is the value, even another "=".
#ifndef SERIAL_SETTINGS_GRAMMAR_H
#define SERIAL_SETTINGS_GRAMMAR_H

#include <string>
#include <string_view>

namespace serial {

enum class SettingsDialect { kChannel, kDialogs };

struct SettingsToken {
  std::string_view text;  // without the quotes
  bool quoted = false;    // written between double quotes
  bool closed = true;     // false for a quoted token that ran to the end
  bool IsEquals() const { return !quoted && text == "="; }
};

// Separators of the channel dialect: bytes 7 to 13 and the space.
constexpr bool IsSettingsSeparator(char c) {
  return (c >= 7 && c <= 13) || c == ' ';
}

// Takes the next token off the front of `rest` (which the caller has ended
// at its first NUL). False, with `rest` emptied, when only separators are
// left.
bool NextSettingsToken(std::string_view& rest, SettingsToken* token, SettingsDialect dialect);

struct SettingsPair {
  std::string_view key;
  std::string_view value;
};

// The pairs of a settings text one by one, in text order. The views point
// into the text, which must outlive the reader.
class SettingsPairReader {
 public:
  SettingsPairReader(std::string_view text, SettingsDialect dialect);
  // The next pair; false at the end of the text.
  bool Next(SettingsPair* pair);

 private:
  std::string_view rest_;
  SettingsDialect dialect_;
};

// The text up to its first NUL byte.
std::string_view UpToNul(std::string_view text);

// A value written so that the channel dialect reads it back unchanged:
// between double quotes when it is empty or holds a separator, "=" or a
// double quote. (A value holding a double quote cannot be written at all;
// it is quoted like any other.)
std::string QuoteSettingsValue(std::string_view value);

}  // namespace serial

#endif  // SERIAL_SETTINGS_GRAMMAR_H
