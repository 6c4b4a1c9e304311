// Why the user may not open a serial port, and the fix: for `tarnctl ports`.
//
// The reasons are worked out from facts gathered elsewhere
// (port_access_posix.cpp on Linux), so they can be tested with any facts.
// Reasons known: the device is readable and writable only for a group the
// user is not in; the user was added to that group but the session predates
// it; the device is open to its owner only; a modem manager runs and holds
// or probes USB modems (ttyACM*, ttyUSB*), which looks like a busy port.
#ifndef TARNCTL_PORT_ACCESS_H
#define TARNCTL_PORT_ACCESS_H

#include <string>
#include <vector>

namespace tarnctl {

struct PortAccessFacts {
  std::string device;
  bool canOpen = true;          // read and write allowed for this process
  bool busy = false;            // another program holds the port
  unsigned mode = 0;            // permission bits of the device
  std::string owner;            // owning user's name
  std::string group;            // owning group's name
  bool processInGroup = false;  // the group is one of this process's groups
  bool listedInGroup = false;   // the user is a member of it in the group database
  std::string user;             // this user's name
  bool modemManagerRunning = false;
};

// One line per reason, each with its fix; empty when nothing stands in the
// way.
std::vector<std::string> PortAccessAdvice(const PortAccessFacts& facts);

// Gathers the facts of `device` on this machine (nothing on Windows, where
// port rights are no user's problem) and gives the advice.
std::vector<std::string> PortAccessAdviceFor(const std::string& device, bool busy);

}  // namespace tarnctl

#endif  // TARNCTL_PORT_ACCESS_H
