#include "serial/port_name.h"

#include "serial/ascii.h"
#include "serial/remote_port.h"

namespace serial {

PortName ParsePortName(std::string_view name) {
  if (name.substr(0, 4) == "\\\\.\\") name.remove_prefix(4);
  if (!StartsWithNoCase(name, "COM")) return {};
  name.remove_prefix(3);
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  if (name.empty()) return {};
  for (char c : name)
    if (c < '0' || c > '9') return {};
  // The shape of a port name: from here on the answer is a port or an error.
  const PortName bad{PortNameKind::kBadPort, 0};
  if (name[0] == '0' || name.size() > 3) return bad;
  unsigned number = 0;
  for (char c : name) number = number * 10 + static_cast<unsigned>(c - '0');
  if (number < kFirstPort || number > kLastPort) return bad;
  return {PortNameKind::kPort, number};
}

std::string PortNameOf(unsigned number) {
  return "COM" + std::to_string(number);
}

std::string DefaultPortDevice(unsigned number) {
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::string DevicePathOf(std::string_view name) {
  if (!name.empty() && name[0] == '/') return std::string(name);
  if (IsRemotePortName(name)) return std::string(name);  // a network serial server
  return "/dev/" + std::string(name);
}

std::string BadPortMessage(std::string_view name) {
  return std::string(name) + " is not a port name: the ports are COM1 to COM256";
}

}  // namespace serial
