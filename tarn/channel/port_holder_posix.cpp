// The process-table search behind FindPortHolder: /proc/<pid>/fd of every
// other process, each descriptor of a file below /dev compared with the
// device by its device number (so /dev/ttyUSB0 and a link to it are the
// same port); and ClaimPort, which locks before it looks. FindPortHolder
// reads the table once for all the ports asked about at about the same time
// (a fleet opening its ports): one pass notes the first holder of every
// character device, and callers share passes through SharedPass, each
// answered by a pass that began after it asked.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <unordered_map>

#include "serial/numbers.h"
#include "tarn/channel/port_holder.h"
#include "tarn/channel/shared_pass.h"

namespace tarn {
namespace {

// The process id named by a /proc entry, or 0 for anything else.
int32_t PidOf(const char* entry) {
  uint64_t pid = 0;
  return serial::ParseDecimal(entry, INT32_MAX, &pid) ? static_cast<int32_t>(pid) : 0;
}

// What one pass over a process table found: the first other process holding
// each character device (all of them, or the one asked for), and the
// processes whose descriptors could not be read.
struct TableView {
  std::unordered_map<dev_t, int32_t> holders;
  int unchecked = 0;
};

// Notes the character devices below /dev that process `pid` has open;
// false when its descriptors cannot be read. With `only`, notes that device
// alone and stops at it.
bool NoteDevicesOf(const std::string& procDir, int32_t pid, const dev_t* only, TableView* view) {
  std::string dir = procDir + "/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return errno == ENOENT || errno == ESRCH;  // gone: nothing held
  char target[16];
  while (dirent* e = readdir(fds)) {
    if (e->d_name[0] == '.') continue;
    // Only descriptors of device files are worth a stat: sockets, pipes and
    // ordinary files are told apart by their link text alone.
    ssize_t n = readlinkat(dirfd(fds), e->d_name, target, sizeof target);
    if (n < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
    struct stat st {};
    if (fstatat(dirfd(fds), e->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
    if (only != nullptr && st.st_rdev != *only) continue;
    view->holders.emplace(st.st_rdev, pid);  // the first holder found stays
    if (only != nullptr) break;
  }
  closedir(fds);
  return true;
}

TableView ReadTable(const std::string& procDir, const dev_t* only) {
  TableView view;
  DIR* proc = opendir(procDir.c_str());
  if (proc == nullptr) return view;
  const int32_t self = static_cast<int32_t>(getpid());
  while (dirent* e = readdir(proc)) {
    int32_t pid = PidOf(e->d_name);
    if (pid == 0 || pid == self) continue;
    if (!NoteDevicesOf(procDir, pid, only, &view)) ++view.unchecked;
    if (only != nullptr && !view.holders.empty()) break;
  }
  closedir(proc);
  return view;
}

std::string ProgramName(const std::string& procDir, int32_t pid) {
  std::ifstream comm(procDir + "/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "unknown program" : EscapedProgramName(name);
}

// The holder of `device` in `view`, named from `procDir`.
bool Answer(const TableView& view, const std::string& procDir, dev_t device, PortHolder* holder) {
  holder->unchecked = view.unchecked;
  auto found = view.holders.find(device);
  if (found == view.holders.end()) return false;
  holder->pid = found->second;
  holder->name = ProgramName(procDir, found->second);
  return true;
}

}  // namespace

std::string EscapedProgramName(const std::string& raw) {
  std::string out;
  for (unsigned char c : raw) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

bool FindPortHolderIn(const std::string& procDir, const std::string& path, PortHolder* holder) {
  holder->unchecked = 0;
  struct stat target {};
  if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  return Answer(ReadTable(procDir, &target.st_rdev), procDir, target.st_rdev, holder);
}

bool FindPortHolder(const std::string& path, PortHolder* holder) {
  holder->unchecked = 0;
  struct stat target {};
  if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  static SharedPass<TableView> pass;
  const TableView view = pass.Get([] { return ReadTable("/proc", nullptr); });
  return Answer(view, "/proc", target.st_rdev, holder);
}

int ClaimPort(int fd, const std::string& path, PortHolder* holder, const HolderSearch& search) {
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK ? EBUSY : errno;
  (void)ioctl(fd, TIOCEXCL);
  if (!search(path, holder)) return 0;
  (void)ioctl(fd, TIOCNXCL);
  (void)flock(fd, LOCK_UN);
  return EBUSY;
}

}  // namespace tarn
