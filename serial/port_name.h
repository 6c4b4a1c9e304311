// COM port names, with one answer for every name.
//
// A port name is "COM" (any letter case) and a number from 1 to 256 written
// without leading zeros, optionally with the device prefix "\\.\" before it
// and a ':' after it: COM1, com5:, \\.\COM12. A name of that shape whose
// number is outside 1..256 or written with a leading zero (COM0, COM01,
// COM300) is a bad port name: every reader refuses it with a clear error
// instead of opening some other file under that name. Anything else
// (ttyUSB0, /dev/pts/3, COM, COMX) is not a port name at all and is left to
// the caller's own rules for device names.
//
// On POSIX each port is looked up in the current user's port map (the
// registry key kPortMapKey, a value named "COMn" holding a device path);
// without an entry, COMn is DefaultPortDevice(n), /dev/ttyS<n-1>.
#ifndef SERIAL_PORT_NAME_H
#define SERIAL_PORT_NAME_H

#include <string>
#include <string_view>

namespace serial {

inline constexpr unsigned kFirstPort = 1;
inline constexpr unsigned kLastPort = 256;

// The port map below HKEY_CURRENT_USER.
inline constexpr const char* kPortMapKey = "Software\\Tarn\\Ports";

enum class PortNameKind { kNotAPort, kPort, kBadPort };

struct PortName {
  PortNameKind kind = PortNameKind::kNotAPort;
  unsigned number = 0;  // 1..256 for kPort, else 0
};

PortName ParsePortName(std::string_view name);

// "COMn".
std::string PortNameOf(unsigned number);

// The device of port `number` when the port map has no entry for it.
std::string DefaultPortDevice(unsigned number);

// The device path of a name that is not a port name (POSIX): an absolute
// path or a remote port ("rfc2217://HOST:PORT") as it is, any other name
// below /dev ("ttyUSB0" -> "/dev/ttyUSB0").
std::string DevicePathOf(std::string_view name);

// What to tell a user who named a bad port, for example
// 'COM300 is not a port name: the ports are COM1 to COM256'.
std::string BadPortMessage(std::string_view name);

}  // namespace serial

#endif  // SERIAL_PORT_NAME_H
