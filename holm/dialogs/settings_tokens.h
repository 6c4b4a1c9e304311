// How the serial settings dialogs read a port settings string: the dialogs
// dialect of the shared settings grammar (serial/settings_grammar.h). It is
// stricter than the channel's reading in two ways that clients have come to
// rely on: only the space character separates tokens, and an "=" written
// directly after a key (device=COM1) ends the key and is consumed with it,
// so no value is stored. Keys are compared with regard to case ("Parity" is
// not "parity"), and a later key replaces an earlier equal one.
//
// Quoted values are read as the channel reads them ('device = "COM 1"'
// gives device -> COM 1), so the dialogs see the device name the port would
// be opened with. The dialogs never write quotes.
#ifndef HOLM_DIALOGS_SETTINGS_TOKENS_H
#define HOLM_DIALOGS_SETTINGS_TOKENS_H

#include <map>
#include <string>
#include <string_view>

#include "serial/ascii.h"
#include "serial/settings_grammar.h"

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
using serial::EqualsNoCase;

}  // namespace holm::dialogs

#endif  // HOLM_DIALOGS_SETTINGS_TOKENS_H
