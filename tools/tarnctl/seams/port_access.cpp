// The reasons and fixes of port_access.h, from the facts alone.
#include "port_access.h"

namespace tarnctl {

std::vector<std::string> PortAccessAdvice(const PortAccessFacts& f) {
  std::vector<std::string> advice;
  const bool usbModem = f.device.find("/ttyACM") != std::string::npos ||
                        f.device.find("/ttyUSB") != std::string::npos;
  if (f.modemManagerRunning && usbModem && (f.busy || !f.canOpen))
    advice.push_back(
        "ModemManager is running and may hold or probe " + f.device +
        ": stop it (sudo systemctl stop ModemManager), or have it leave the adapter alone "
        "with a udev rule setting ENV{ID_MM_DEVICE_IGNORE}=\"1\"");
  if (f.canOpen) return advice;
  const bool groupMayUse = (f.mode & 060) == 060;
  if (groupMayUse && !f.group.empty() && !f.processInGroup && f.listedInGroup) {
    advice.push_back("you are in the group '" + f.group + "' that owns " + f.device +
                     ", but this session started before you were added: log out and in "
                     "again (or run newgrp " +
                     f.group + ")");
  } else if (groupMayUse && !f.group.empty() && !f.processInGroup) {
    advice.push_back("you are not in the group '" + f.group + "' that owns " + f.device +
                     ": sudo usermod -aG " + f.group + " " +
                     (f.user.empty() ? std::string("$USER") : f.user) +
                     ", then log out and in again");
  } else {
    advice.push_back(f.device + " is open to " +
                     (f.owner.empty() ? std::string("its owner") : "'" + f.owner + "'") +
                     " only: ask the administrator for a udev rule that gives it to the "
                     "group dialout, then join that group");
  }
  return advice;
}

}  // namespace tarnctl
