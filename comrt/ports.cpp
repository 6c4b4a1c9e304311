// The port map: COMn names to device paths (see comrt_ResolvePortName). An
// entry means what the same name means as a settings string's device: an
// absolute path as it is, any other name below /dev. An entry that names a
// port (COM4, or a bad port name) is refused rather than followed, so a map
// can neither chain nor loop.
#include <cstring>
#include <string>

#include "comrt/internal.h"
#include "serial/port_name.h"

namespace {

// Reads the map entry of port n: a value named "COMn" under the map key, or
// the default value of the subkey "COMn". ERROR_FILE_NOT_FOUND when neither
// holds a path.
LONG LookUp(unsigned n, std::string& device) {
  const std::string port = serial::PortNameOf(n);
  HKEY key = nullptr;
  LONG rc = RegOpenKeyA(HKEY_CURRENT_USER, serial::kPortMapKey, &key);
  if (rc != ERROR_SUCCESS) return rc;
  char buffer[4096];
  DWORD size = sizeof buffer;
  rc =
      RegQueryValueExA(key, port.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc != ERROR_SUCCESS || buffer[0] == '\0') {
    LONG lsize = sizeof buffer;
    rc = RegQueryValueA(key, port.c_str(), buffer, &lsize);
  }
  RegCloseKey(key);
  if (rc == ERROR_MORE_DATA) return ERROR_INSUFFICIENT_BUFFER;
  if (rc != ERROR_SUCCESS) return rc;
  if (buffer[0] == '\0') return ERROR_FILE_NOT_FOUND;
  if (serial::ParsePortName(buffer).kind != serial::PortNameKind::kNotAPort)
    return ERROR_INVALID_DATA;
  device = serial::DevicePathOf(buffer);
  return ERROR_SUCCESS;
}

}  // namespace

COMRT_API LONG comrt_ResolvePortName(const char* name, char* out, size_t size) {
  if (name == nullptr || out == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
  std::string device = name;
  const serial::PortName port = serial::ParsePortName(name);
  if (port.kind == serial::PortNameKind::kBadPort) return ERROR_BAD_PATHNAME;
  if (port.kind == serial::PortNameKind::kPort) {
    const LONG rc = LookUp(port.number, device);
    if (rc == ERROR_BADDB || rc == ERROR_CANTREAD || rc == ERROR_INVALID_DATA) return rc;
    if (rc != ERROR_SUCCESS) device = serial::DefaultPortDevice(port.number);
  }
  if (device.size() + 1 > size) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(out, device.c_str(), device.size() + 1);
  return ERROR_SUCCESS;
}
