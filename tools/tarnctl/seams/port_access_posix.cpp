// The facts of port_access.h on Linux: the device's owner, group and mode,
// this process's groups and the group database, and whether a modem
// manager runs (a process named ModemManager in /proc).
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "port_access.h"

namespace tarnctl {
namespace {

bool ModemManagerRunning() {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  while (const dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream comm(std::string("/proc/") + e->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") {
      found = true;
      break;
    }
  }
  closedir(proc);
  return found;
}

bool ProcessInGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int n = getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = getgroups(n, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<size_t>(i)] == gid) return true;
  return false;
}

}  // namespace

std::vector<std::string> PortAccessAdviceFor(const std::string& device, bool busy) {
  PortAccessFacts f;
  f.device = device;
  f.busy = busy;
  struct stat st {};
  if (stat(device.c_str(), &st) != 0) return {};
  f.canOpen = access(device.c_str(), R_OK | W_OK) == 0;
  f.mode = st.st_mode & 07777;
  if (const passwd* owner = getpwuid(st.st_uid)) f.owner = owner->pw_name;
  const passwd* me = getpwuid(geteuid());
  if (me != nullptr) f.user = me->pw_name;
  if (const group* g = getgrgid(st.st_gid)) {
    f.group = g->gr_name;
    for (char** m = g->gr_mem; *m != nullptr; ++m)
      if (!f.user.empty() && f.user == *m) f.listedInGroup = true;
    if (me != nullptr && me->pw_gid == st.st_gid) f.listedInGroup = true;
  }
  f.processInGroup = ProcessInGroup(st.st_gid);
  f.modemManagerRunning = ModemManagerRunning();
  return PortAccessAdvice(f);
}

}  // namespace tarnctl
