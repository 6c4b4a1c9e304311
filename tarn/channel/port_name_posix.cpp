#include <cstdlib>
#include <string>

#include "tarn/channel/port_name.h"

namespace tarn {

// The runtime's registry will carry a user-editable COMn map; until the
// runtime offers its resolver, COMn takes the default mapping here.
std::string ResolvePortName(const char* name) {
  if (name == nullptr || name[0] == '\0') return {};
  if (name[0] == '/') return name;
  const char* p = name;
  if ((p[0] == 'C' || p[0] == 'c') && (p[1] == 'O' || p[1] == 'o') &&
      (p[2] == 'M' || p[2] == 'm') && p[3] >= '1' && p[3] <= '9') {
    unsigned long n = 0;
    const char* d = p + 3;
    while (*d >= '0' && *d <= '9' && n < 100000)
      n = n * 10 + static_cast<unsigned long>(*d++ - '0');
    if (*d == '\0') return "/dev/ttyS" + std::to_string(n - 1);
  }
  return std::string("/dev/") + name;
}

}  // namespace tarn
