// The process-table search behind FindPortHolder: /proc/<pid>/fd of every
// other process, each descriptor of a file below /dev compared with the
// device by its device number (so /dev/ttyUSB0 and a link to it are the
// same port); and ClaimPort, which locks before it looks.
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

#include "serial/numbers.h"
#include "tarn/channel/port_holder.h"

namespace tarn {
namespace {

// The process id named by a /proc entry, or 0 for anything else.
int32_t PidOf(const char* entry) {
  uint64_t pid = 0;
  return serial::ParseDecimal(entry, INT32_MAX, &pid) ? static_cast<int32_t>(pid) : 0;
}

enum class Holding { kNo, kYes, kUnreadable };

Holding HasDescriptorOf(const std::string& procDir, int32_t pid, dev_t device) {
  std::string dir = procDir + "/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr)
    return errno == ENOENT || errno == ESRCH ? Holding::kNo : Holding::kUnreadable;
  Holding found = Holding::kNo;
  char target[16];
  while (dirent* e = readdir(fds)) {
    if (e->d_name[0] == '.') continue;
    // Only descriptors of device files are worth a stat: sockets, pipes and
    // ordinary files are told apart by their link text alone.
    ssize_t n = readlinkat(dirfd(fds), e->d_name, target, sizeof target);
    if (n < 5 || std::memcmp(target, "/dev/", 5) != 0) continue;
    struct stat st {};
    if (fstatat(dirfd(fds), e->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
        st.st_rdev == device) {
      found = Holding::kYes;
      break;
    }
  }
  closedir(fds);
  return found;
}

std::string ProgramName(const std::string& procDir, int32_t pid) {
  std::ifstream comm(procDir + "/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "unknown program" : EscapedProgramName(name);
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
  DIR* proc = opendir(procDir.c_str());
  if (proc == nullptr) return false;
  const int32_t self = static_cast<int32_t>(getpid());
  bool found = false;
  while (dirent* e = readdir(proc)) {
    int32_t pid = PidOf(e->d_name);
    if (pid == 0 || pid == self) continue;
    Holding h = HasDescriptorOf(procDir, pid, target.st_rdev);
    if (h == Holding::kUnreadable) ++holder->unchecked;
    if (h != Holding::kYes) continue;
    holder->pid = pid;
    holder->name = ProgramName(procDir, pid);
    found = true;
    break;
  }
  closedir(proc);
  return found;
}

bool FindPortHolder(const std::string& path, PortHolder* holder) {
  return FindPortHolderIn("/proc", path, holder);
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
