// Who else has a serial device open (POSIX), and claiming a device for this
// process. The exclusive open and the advisory lock of the port keep later
// openers out, but a program that opened the device earlier without a lock
// (a terminal program, a modem manager) would go on reading the same line;
// the port looks for it in the process table once it holds the lock.
//
// The search covers the other processes whose descriptors this user may
// read (all of them for root); this process itself is left out, since it
// holds its own ports on purpose. Processes whose descriptors could not be
// read (another user's, such as a modem manager run by root) are counted,
// so that a later failure can say the line may be shared after all. Both
// the download server and tarnctl use it, so that the refusal and the
// message name the same holder. Program names are given with control
// characters and bytes outside ASCII escaped as \xHH (any local user can
// put escape sequences into a process name).
#ifndef TARN_CHANNEL_PORT_HOLDER_H
#define TARN_CHANNEL_PORT_HOLDER_H

#include <cstdint>
#include <functional>
#include <string>

namespace tarn {

struct PortHolder {
  int32_t pid = 0;
  std::string name;   // the program's name as the process table has it, escaped
  int unchecked = 0;  // other processes whose descriptors could not be read
};

// True when another process has an open descriptor of the character device
// at `path` (the same device node, whatever name it was opened by); the
// first one found goes to *holder. False when there is none, when `path` is
// not a character device, or where there is no process table to search.
// holder->unchecked is set either way.
bool FindPortHolder(const std::string& path, PortHolder* holder);
// The same search in a process table at `procDir` (tests give their own).
bool FindPortHolderIn(const std::string& procDir, const std::string& path, PortHolder* holder);

// "\x1B]0;x\x07" for ESC ] 0 ; x BEL: printable ASCII stays, the rest is
// escaped.
std::string EscapedProgramName(const std::string& raw);

using HolderSearch = std::function<bool(const std::string& path, PortHolder* holder)>;

// Claims the open terminal `fd` of `path` for this process: the advisory
// lock and the exclusive mode first, so that no opener slips in between,
// then the search for processes that opened it earlier. 0 when the device
// is ours; EBUSY when it is locked or held (a holder found goes to
// *holder, and the exclusive mode is dropped again so the holder is not
// shut out); another errno when the lock fails otherwise.
int ClaimPort(int fd, const std::string& path, PortHolder* holder,
              const HolderSearch& search = FindPortHolder);

}  // namespace tarn

#endif  // TARN_CHANNEL_PORT_HOLDER_H
