// How the serial settings dialogs read a port settings string: a small
// tokenizer and a key = value reader of their own. It is stricter than the
// channel's reader in two ways that clients have come to rely on: only the
// space character separates tokens, and an "=" written directly after a key
// (device=COM1) ends the key and is consumed with it, so no value is stored.
// Keys are compared with regard to case ("Parity" is not "parity").
//
// Quoted values. A token that begins with a double quote runs to the next
// double quote instead of the next blank or "=": blanks and "=" inside the
// quotes are ordinary characters. The quotes do not belong to the token
// ('device = "COM 1"' gives device -> COM 1), which is how the channel reads
// the same text, so the dialogs see the device name the port would be opened
// with. The closing quote is consumed with the token; a missing closing quote
// ends the token at the end of the text. A quoted token is never the "="
// token, so '"="' can be a key or a value. The dialogs never write quotes.
#ifndef HOLM_DIALOGS_SETTINGS_TOKENS_H
#define HOLM_DIALOGS_SETTINGS_TOKENS_H

#include <map>
#include <string>
#include <string_view>

namespace holm::dialogs {

// Keys to values; keys compared with regard to case.
using SettingsMap = std::map<std::string, std::string>;

// Takes the next token off the front of rest. Returns false (and leaves
// token empty) when rest holds nothing but blanks. quoted, when given,
// tells whether the token was written between double quotes.
bool NextSettingsToken(std::string& token, std::string_view& rest, bool* quoted = nullptr);

// Reads text into a map of keys to values; a later key replaces an earlier
// equal one, and a key left without a value is not stored. The text ends at
// its first NUL byte, if any, as the channel reads it.
SettingsMap ParseSettings(std::string_view text);

// The value of key in map, or empty text when the key is missing.
std::string SettingValue(const SettingsMap& map, const std::string& key);

// Compares two texts without regard to the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace holm::dialogs

#endif  // HOLM_DIALOGS_SETTINGS_TOKENS_H
