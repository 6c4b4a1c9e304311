// Where tarnctl meets the system (seams/): the operating system (this file,
// interrupt.h, the trace relay trace.h, the simulator sim.h, port_access.h),
// the component runtime (components.h, com_ptr.h, bstr_text.h), the saved
// settings (settings.h) and remote ports (remote_port.h), each with its
// *_posix / *_win32 files (two more live with their users: the digest in
// job/, Ctrl-C on worker threads in fleet/). Nothing here knows a job.
//
// What tarnctl needs from the operating system, behind one small interface:
// platform_posix.cpp and platform_win32.cpp implement it.
#ifndef TARNCTL_PLATFORM_H
#define TARNCTL_PLATFORM_H

#include <memory>
#include <string>
#include <vector>

namespace tarnctl::platform {

// Folder of the running executable ("" when unknown).
std::string ExecutableDir();

// File names a component library may have, from its base name: "tarn"
// gives libtarn.so on POSIX, libtarn.dll (MinGW's naming) and tarn.dll on
// Windows. The first is the usual one.
std::vector<std::string> LibraryFileNames(const std::string& base);

// Separator of folder lists in environment variables.
char PathListSeparator();

bool FileExists(const std::string& path);

// True when this user may write the file, or create files in the folder
// (for root too: a file without any write permission bit counts as
// read-only).
bool CanWrite(const std::string& path);

// True when `path` names the file or device standard output already is.
bool IsStandardOutput(const std::string& path);

// True when a user sits at a terminal: the controlling terminal can be opened
// and standard output is a terminal. Then the progress window and the
// settings dialog are shown; otherwise tarnctl prints plain lines.
bool Interactive();
// The width of the terminal standard output shows on, in columns (80 when
// it cannot be told).
int TerminalColumns();
// True when a controlling terminal exists at all (for dialogs).
bool HaveTerminal();

// Reads a line from the controlling terminal with echo off. Throws Error
// (exit 1) without a terminal.
std::string ReadSecret(const std::string& prompt);

// What a port's device looks like right now.
// kMissing: no such device node; kCannotOpen: the node exists but opening
// it fails (nothing behind it, such as /dev/tty without a terminal).
enum class PortState { kFree, kBusy, kMissing, kNoAccess, kCannotOpen, kOther };
// Opens the device without waiting, tries a non-blocking exclusive advisory
// lock on it and closes it again; nothing is held afterwards. `detail`
// receives a short reason (for example "locked by another program", or
// "held by PID 1234 (minicom)" when another process has the device open).
PortState ProbePort(const std::string& device, std::string* detail);

// Another process that has `device` open, found without opening it: "held
// by PID 1234 (minicom)" (the name escaped), or "" when none is found.
// *unchecked receives how many other processes could not be examined
// (another user's, such as a modem manager run by root); 0 where there is
// no process table to search.
std::string PortHolderText(const std::string& device, int* unchecked);

// True when the two paths name one device: the same device number for
// character devices (two nodes of one device, a link), the same file
// otherwise. False where either cannot be examined.
bool SameDevice(const std::string& a, const std::string& b);

struct SerialDevice {
  std::string device;
  std::string description;
};
// The serial devices present on this machine.
std::vector<SerialDevice> ListSerialDevices();

// Sets an environment variable for this process and its children.
void SetEnv(const std::string& name, const std::string& value);

// Milliseconds from an arbitrary start, monotonic.
double NowMs();

}  // namespace tarnctl::platform

#endif  // TARNCTL_PLATFORM_H
