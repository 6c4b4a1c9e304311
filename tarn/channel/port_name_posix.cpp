#include <errno.h>

#include <string>

#include "comrt/comrt.h"
#include "tarn/channel/port_name.h"

// The runtime's resolver is optional here: a weak reference stays null in a
// process without the runtime (the channel's own tests), and the default
// mapping applies.
#pragma weak comrt_ResolvePortName

namespace tarn {
namespace {

bool IsComName(const char* p, unsigned long* number) {
  if (!((p[0] == 'C' || p[0] == 'c') && (p[1] == 'O' || p[1] == 'o') &&
        (p[2] == 'M' || p[2] == 'm') && p[3] >= '1' && p[3] <= '9'))
    return false;
  unsigned long n = 0;
  const char* d = p + 3;
  for (; *d >= '0' && *d <= '9'; ++d) {
    n = n * 10 + static_cast<unsigned long>(*d - '0');
    if (n > 100000) return false;
  }
  *number = n;
  return *d == '\0';
}

}  // namespace

int ResolvePortName(const char* name, std::string* path) {
  if (name == nullptr || name[0] == '\0') return ENOENT;
  if (name[0] == '/') {
    *path = name;
    return 0;
  }
  unsigned long number = 0;
  if (IsComName(name, &number)) {
    if (comrt_ResolvePortName != nullptr) {
      char buffer[4096];
      if (comrt_ResolvePortName(name, buffer, sizeof buffer) != ERROR_SUCCESS) return EBADMSG;
      *path = buffer;
      return 0;
    }
    *path = "/dev/ttyS" + std::to_string(number - 1);
    return 0;
  }
  *path = std::string("/dev/") + name;
  return 0;
}

}  // namespace tarn
