// The port map: COMn names to device paths (see comrt_ResolvePortName).
#include <cstdlib>
#include <cstring>
#include <string>

#include "comrt/internal.h"

namespace {

constexpr const char* kPortMapKey = "Software\\Tarn\\Ports";

// The port number of "COMn", "COMn:" or "\\.\COMn" (letter case ignored);
// 0 when `name` is none of these.
unsigned PortNumber(const char* name) {
  if (std::strncmp(name, "\\\\.\\", 4) == 0) name += 4;
  if ((name[0] != 'C' && name[0] != 'c') || (name[1] != 'O' && name[1] != 'o') ||
      (name[2] != 'M' && name[2] != 'm'))
    return 0;
  const char* p = name + 3;
  if (*p < '1' || *p > '9') return 0;  // no sign, blank or leading zero
  unsigned n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + static_cast<unsigned>(*p - '0');
    if (n > 256) return 0;
  }
  if (*p == ':') ++p;
  return *p == '\0' ? n : 0;
}

// Reads the map entry of port n: a value named "COMn" under the map key, or
// the default value of the subkey "COMn". ERROR_FILE_NOT_FOUND when neither
// holds a path.
LONG LookUp(unsigned n, std::string& device) {
  const std::string port = "COM" + std::to_string(n);
  HKEY key = nullptr;
  LONG rc = RegOpenKeyA(HKEY_CURRENT_USER, kPortMapKey, &key);
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
  device = buffer;
  return ERROR_SUCCESS;
}

}  // namespace

COMRT_API LONG comrt_ResolvePortName(const char* name, char* out, size_t size) {
  if (name == nullptr || out == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
  std::string device = name;
  if (const unsigned n = PortNumber(name); n != 0) {
    const LONG rc = LookUp(n, device);
    if (rc == ERROR_BADDB) return rc;
    if (rc != ERROR_SUCCESS) device = "/dev/ttyS" + std::to_string(n - 1);
  }
  if (device.size() + 1 > size) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(out, device.c_str(), device.size() + 1);
  return ERROR_SUCCESS;
}
