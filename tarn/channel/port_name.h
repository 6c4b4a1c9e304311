// Maps the device name of a settings string to a device path (POSIX).
#ifndef TARN_CHANNEL_PORT_NAME_H
#define TARN_CHANNEL_PORT_NAME_H

#include <string>

namespace tarn {

// An absolute path is used as is. "COMn" (any letter case, n from 1) maps
// to /dev/ttyS<n-1>, the default of the runtime's port map. Any other name
// is taken relative to /dev ("ttyUSB0" -> "/dev/ttyUSB0"). An empty result
// means the name maps to no device.
std::string ResolvePortName(const char* name);

}  // namespace tarn

#endif  // TARN_CHANNEL_PORT_NAME_H
