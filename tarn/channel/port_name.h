// Maps the device name of a settings string to a device path (POSIX).
#ifndef TARN_CHANNEL_PORT_NAME_H
#define TARN_CHANNEL_PORT_NAME_H

#include <string>

namespace tarn {

// An absolute path is used as is. A port name (serial/port_name.h: COM1 to
// COM256, any letter case, optionally "\\.\COMn" or "COMn:") is looked up
// in the runtime's port map (comrt_ResolvePortName) when the runtime is part
// of the process; without it, COMn is /dev/ttyS<n-1>, the map's default. Any
// other name is taken relative to /dev ("ttyUSB0" -> "/dev/ttyUSB0").
//
// Returns 0 and the path, or an errno: ENOENT for an empty name, ERANGE for
// a bad port name (COM0, COM300: never opened as a file of that name),
// EBADMSG when the port map cannot be read (opening the default device
// instead could reach the wrong line).
int ResolvePortName(const char* name, std::string* path);

}  // namespace tarn

#endif  // TARN_CHANNEL_PORT_NAME_H
