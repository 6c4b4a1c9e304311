// Who else has a serial device open (POSIX). The exclusive open and the
// advisory lock of the port keep later openers out, but a program that
// opened the device earlier without a lock (a terminal program, a modem
// manager) would go on reading the same line; the port looks for it in the
// process table before it opens the device.
//
// The search covers the other processes whose descriptors this user may
// read (all of them for root); this process itself is left out, since it
// holds its own ports on purpose. Both the download server and tarnctl use
// it, so that the refusal and the message name the same holder.
#ifndef TARN_CHANNEL_PORT_HOLDER_H
#define TARN_CHANNEL_PORT_HOLDER_H

#include <cstdint>
#include <string>

namespace tarn {

struct PortHolder {
  int32_t pid = 0;
  std::string name;  // the program's name as the process table has it
};

// True when another process has an open descriptor of the character device
// at `path` (the same device node, whatever name it was opened by); the
// first one found goes to *holder. False when there is none, when `path` is
// not a character device, or where there is no process table to search.
bool FindPortHolder(const std::string& path, PortHolder* holder);

}  // namespace tarn

#endif  // TARN_CHANNEL_PORT_HOLDER_H
