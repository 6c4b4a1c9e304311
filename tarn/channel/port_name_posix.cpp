#include <errno.h>

#include <string>

#include "comrt/comrt.h"
#include "serial/port_name.h"
#include "tarn/channel/port_name.h"

// The runtime's resolver is optional here: a weak reference stays null in a
// process without the runtime (the channel's own tests), and the default
// mapping applies.
#pragma weak comrt_ResolvePortName

namespace tarn {

int ResolvePortName(const char* name, std::string* path) {
  if (name == nullptr || name[0] == '\0') return ENOENT;
  if (name[0] == '/') {
    *path = name;
    return 0;
  }
  const serial::PortName port = serial::ParsePortName(name);
  if (port.kind == serial::PortNameKind::kBadPort) return ERANGE;
  if (port.kind == serial::PortNameKind::kNotAPort) {
    *path = std::string("/dev/") + name;
    return 0;
  }
  if (comrt_ResolvePortName == nullptr) {
    *path = serial::DefaultPortDevice(port.number);
    return 0;
  }
  char buffer[4096];
  if (comrt_ResolvePortName(name, buffer, sizeof buffer) != ERROR_SUCCESS) return EBADMSG;
  *path = buffer;
  return 0;
}

}  // namespace tarn
