// tarnctl's guard on port settings strings: a string is checked before it
// is saved (`setup`) or used (`--port`, saved settings), so that a bad value
// is reported at once, naming the key and the value, instead of failing
// later in the download server or, worse, opening the line at a speed the
// user never chose. The download server keeps its own, more tolerant
// reading rules.
//
// Accepted: key = value pairs (the tokens of settings.h), each key once:
//   device  a non-empty name (COMn, a path, a name below /dev); a bad port
//           name (COM0, COM300: serial/port_name.h) is refused
//   baud    a standard rate from 50 to 4000000 (serial/rates.h: 9600,
//           14400, 19200, 115200, ...), written in decimal
//   data    5, 6, 7 or 8
//   parity  no, odd, even or mark
//   stop    1, 1.5 or 2
// Refused: any other key, a key without "= value", an unclosed quote.
#ifndef TARNCTL_SETTINGS_CHECK_H
#define TARNCTL_SETTINGS_CHECK_H

#include <string>

namespace tarnctl {

// Throws Error (exit 1) naming the first bad key and value; `where` tells
// where the string came from ("--port", "the saved settings", ...).
void CheckSettings(const std::string& text, const std::string& where);

// The settings the dialog returned with an empty device set back to
// `device`: the dialog offers COM ports only and hands back an empty device
// for any other, which must never replace the user's device. A COM port the
// user picked in the dialog is kept.
std::string WithDevice(const std::string& dialogText, const std::string& device);

}  // namespace tarnctl

#endif  // TARNCTL_SETTINGS_CHECK_H
