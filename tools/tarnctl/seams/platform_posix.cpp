// POSIX side of tarnctl's platform interface.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>

#include "errors.h"
#include "platform.h"
#include "remote_port.h"
#include "serial/remote_port.h"
#include "tarn/channel/port_holder.h"

namespace tarnctl::platform {

std::string PortHolderText(const std::string& device, int* unchecked) {
  tarn::PortHolder holder;
  const bool found = tarn::FindPortHolder(device, &holder);
  *unchecked = holder.unchecked;
  return found ? "held by PID " + std::to_string(holder.pid) + " (" + holder.name + ")" : "";
}

bool SameDevice(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

std::string Basename(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// A UUCP-style lock file of a live process, as terminal programs leave them.
bool LockFileHeld(const std::string& device, std::string* detail) {
  for (const char* dir : {"/var/lock", "/run/lock"}) {
    std::string path = std::string(dir) + "/LCK.." + Basename(device);
    std::ifstream in(path);
    if (!in) continue;
    long pid = 0;
    in >> pid;
    if (pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM)) {
      *detail = "locked by process " + std::to_string(pid) + " (" + path + ")";
      return true;
    }
  }
  return false;
}

// Another process with the device open, lock or no lock: "held by PID 1234
// (minicom)".
bool HolderNamed(const std::string& device, std::string* detail) {
  int unchecked = 0;
  std::string held = PortHolderText(device, &unchecked);
  if (held.empty()) return false;
  *detail = held;
  return true;
}

struct termios savedTermios;
int secretFd = -1;

void RestoreOnSignal(int sig) {
  if (secretFd >= 0) tcsetattr(secretFd, TCSAFLUSH, &savedTermios);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

std::string ExecutableDir() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  buffer[n] = '\0';
  std::string path(buffer);
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> LibraryFileNames(const std::string& base) {
  return {"lib" + base + ".so"};
}

char PathListSeparator() {
  return ':';
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CanWrite(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || access(path.c_str(), W_OK) != 0) return false;
  return S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) ||
         (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool IsStandardOutput(const std::string& path) {
  struct stat out {
  }, named{};
  return fstat(1, &out) == 0 && stat(path.c_str(), &named) == 0 && out.st_dev == named.st_dev &&
         out.st_ino == named.st_ino;
}

bool HaveTerminal() {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

int TerminalColumns() {
  struct winsize size {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

bool Interactive() {
  return isatty(STDOUT_FILENO) && HaveTerminal();
}

std::string ReadSecret(const std::string& prompt) {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0)
    throw Error(kExitUsage, "--ask-password needs a terminal",
                "use --password-file FILE where no terminal is available");
  if (write(fd, prompt.data(), prompt.size()) < 0) {
  }
  struct termios t;
  bool haveTermios = tcgetattr(fd, &t) == 0;
  if (haveTermios) {
    savedTermios = t;
    secretFd = fd;
    signal(SIGINT, RestoreOnSignal);
    signal(SIGTERM, RestoreOnSignal);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    t.c_lflag |= ICANON;
    tcsetattr(fd, TCSAFLUSH, &t);
  }
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n' && c != '\r') line.push_back(c);
  if (haveTermios) {
    tcsetattr(fd, TCSAFLUSH, &savedTermios);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    secretFd = -1;
  }
  if (write(fd, "\n", 1) < 0) {
  }
  close(fd);
  return line;
}

PortState ProbePort(const std::string& device, std::string* detail) {
  detail->clear();
  if (serial::IsRemotePortName(device)) return ProbeRemotePort(device, detail);
  struct stat st;
  if (stat(device.c_str(), &st) != 0)
    return errno == EACCES ? PortState::kNoAccess : PortState::kMissing;
  if (LockFileHeld(device, detail)) return PortState::kBusy;
  int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    int e = errno;
    *detail = std::strerror(e);
    if (e == EBUSY) {
      if (!HolderNamed(device, detail)) *detail = "opened exclusively by another program";
      return PortState::kBusy;
    }
    if (e == EACCES || e == EPERM) return PortState::kNoAccess;
    if (e == ENOENT) return PortState::kMissing;
    return PortState::kCannotOpen;
  }
  PortState state = PortState::kFree;
  struct termios t;
  if (tcgetattr(fd, &t) != 0) {
    *detail = "not a serial device";
    state = errno == EIO ? PortState::kMissing : PortState::kOther;
  } else if (HolderNamed(device, detail)) {
    state = PortState::kBusy;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      *detail = "locked by another program";
      state = PortState::kBusy;
    }
  } else {
    flock(fd, LOCK_UN);
  }
  close(fd);
  return state;
}

std::vector<SerialDevice> ListSerialDevices() {
  static const char* kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "ttymxc", "rfcomm"};
  std::vector<SerialDevice> out;
  DIR* dir = opendir("/dev");
  if (!dir) return out;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    bool match = false;
    for (const char* p : kPrefixes)
      if (name.rfind(p, 0) == 0 && name.size() > std::strlen(p)) match = true;
    if (!match) continue;
    std::string sys = "/sys/class/tty/" + name + "/device";
    std::string description;
    if (name.rfind("ttyS", 0) == 0) {
      // Every machine has ttyS0..ttyS31 nodes; only those with a UART count.
      if (access(sys.c_str(), F_OK) != 0) continue;
      int fd = open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        struct serial_struct ss;
        bool unknown = ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type == PORT_UNKNOWN;
        close(fd);
        if (unknown) continue;
      }
      description = "built-in serial port";
    } else {
      std::string product = ReadFirstLine(sys + "/../product");
      if (product.empty()) product = ReadFirstLine(sys + "/../../product");
      description = product.empty() ? "serial adapter" : product;
    }
    out.push_back({"/dev/" + name, description});
  }
  closedir(dir);
  std::sort(out.begin(), out.end(),
            [](const SerialDevice& a, const SerialDevice& b) { return a.device < b.device; });
  return out;
}

void SetEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace tarnctl::platform
