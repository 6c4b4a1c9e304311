#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "errors.h"
#include "platform.h"
#include "sim.h"
#include "tarnctl_paths.h"

namespace tarnctl {
namespace {

bool Executable(const std::string& path) {
  return !path.empty() && access(path.c_str(), X_OK) == 0;
}

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args,
                        std::vector<std::string>* storage) {
  storage->clear();
  storage->push_back(program);
  storage->insert(storage->end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : *storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return argv;
}

class PagersimProcess final : public SimulatedPager {
 public:
  PagersimProcess(pid_t pid, int out, std::string device)
      : pid_(pid), out_(out), device_(std::move(device)) {
    // Keeps reading what pagersim prints so that it never blocks on a full pipe.
    drain_ = std::thread([fd = out_] {
      char buffer[512];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
    });
  }
  ~PagersimProcess() override {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(10000);
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    drain_.join();
    close(out_);
  }
  std::string Device() const override { return device_; }

 private:
  pid_t pid_;
  int out_;
  std::string device_;
  std::thread drain_;
};

}  // namespace

std::string FindPagersim() {
  if (const char* env = std::getenv("TARNCTL_PAGERSIM"))
    if (Executable(env)) return env;
  std::string exe = platform::ExecutableDir();
  for (const std::string& p :
       {exe + "/pagersim", exe + "/../pagersim/pagersim", std::string(TARNCTL_BUILD_PAGERSIM)})
    if (Executable(p)) return p;
  if (const char* path = std::getenv("PATH")) {
    std::string list = path;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      std::string candidate = list.substr(start, end - start) + "/pagersim";
      if (end > start && Executable(candidate)) return candidate;
      start = end + 1;
    }
  }
  return {};
}

std::unique_ptr<SimulatedPager> SimulatedPager::Start(const std::vector<std::string>& args) {
  std::string program = FindPagersim();
  if (program.empty())
    throw Error(kExitComponents, "the pager simulator (pagersim) is not found",
                "build the project, or set TARNCTL_PAGERSIM to the pagersim executable");
  int fds[2];
  if (pipe(fds) != 0) throw Error(kExitComponents, "cannot start pagersim: no pipe");
  std::vector<std::string> storage;
  std::vector<char*> argv = Argv(program, args, &storage);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    throw Error(kExitComponents, std::string("cannot start pagersim: ") + std::strerror(errno));
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  // The first line that names the device: "pagersim: serving on /dev/pts/N".
  std::string line, device;
  double deadline = platform::NowMs() + 10000;
  while (device.empty()) {
    pollfd p{fds[0], POLLIN, 0};
    int left = static_cast<int>(deadline - platform::NowMs());
    if (left <= 0 || poll(&p, 1, left) <= 0) break;
    char c;
    if (read(fds[0], &c, 1) != 1) break;
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    size_t at = line.find("serving on ");
    if (at != std::string::npos) device = line.substr(at + 11);
    while (!device.empty() && (device.back() == ' ' || device.back() == '\r')) device.pop_back();
    line.clear();
  }
  if (device.empty()) {
    kill(pid, SIGTERM);
    int status;
    waitpid(pid, &status, 0);
    close(fds[0]);
    throw Error(kExitComponents, "pagersim did not name its device (" + program + ")",
                "run `tarnctl sim` to see what it reports");
  }
  return std::make_unique<PagersimProcess>(pid, fds[0], device);
}

void ExecPagersim(const std::vector<std::string>& args) {
  std::string program = FindPagersim();
  if (program.empty())
    throw Error(kExitComponents, "the pager simulator (pagersim) is not found",
                "build the project, or set TARNCTL_PAGERSIM to the pagersim executable");
  std::vector<std::string> storage;
  std::vector<char*> argv = Argv(program, args, &storage);
  execv(program.c_str(), argv.data());
  throw Error(kExitComponents, "cannot run " + program + ": " + std::strerror(errno));
}

}  // namespace tarnctl
