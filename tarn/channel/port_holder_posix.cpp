// The process-table search behind FindPortHolder: /proc/<pid>/fd of every
// other process, each descriptor of a file below /dev compared with the
// device by its device number (so /dev/ttyUSB0 and a link to it are the
// same port).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
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

bool HasDescriptorOf(int32_t pid, dev_t device) {
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* fds = opendir(dir.c_str());
  if (fds == nullptr) return false;  // gone, or not ours to read
  bool found = false;
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
      found = true;
      break;
    }
  }
  closedir(fds);
  return found;
}

std::string ProgramName(int32_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "unknown program" : name;
}

}  // namespace

bool FindPortHolder(const std::string& path, PortHolder* holder) {
  struct stat target {};
  if (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)) return false;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  const int32_t self = static_cast<int32_t>(getpid());
  bool found = false;
  while (dirent* e = readdir(proc)) {
    int32_t pid = PidOf(e->d_name);
    if (pid == 0 || pid == self || !HasDescriptorOf(pid, target.st_rdev)) continue;
    holder->pid = pid;
    holder->name = ProgramName(pid);
    found = true;
    break;
  }
  closedir(proc);
  return found;
}

}  // namespace tarn
