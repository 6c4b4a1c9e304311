// A stand-in for holm-ui-helper in the desktop backend's tests, needing no
// display: it reports what it was given and plays a healthy, a stalled or a
// short-lived helper.
//
//   fake_ui_helper --fd N --parent PID [--charset NAME]
//
// Environment: FAKE_UI_HELPER_REPORT names a file that receives "pid P",
// one "fd K TARGET" line per open descriptor, and "pong N" per answered
// ping. FAKE_UI_HELPER_MODE: "normal" (answers ping, exits on quit or end
// of file), "stall" (after the first pong it reads nothing more and never
// exits by itself), "exit" (exits after the first pong).
#include <dirent.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Report(const std::string& line) {
  const char* path = std::getenv("FAKE_UI_HELPER_REPORT");
  if (path == nullptr) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void ReportDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atoi(e->d_name) == dirfd(dir)) continue;
    char target[256] = {};
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) < 0) std::strcpy(target, "?");
    Report(std::string("fd ") + e->d_name + " " + target);
  }
  closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  int fd = -1;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--fd") == 0) fd = std::atoi(argv[i + 1]);
  const char* modeText = std::getenv("FAKE_UI_HELPER_MODE");
  const std::string mode = modeText != nullptr ? modeText : "normal";
  Report("pid " + std::to_string(getpid()));
  ReportDescriptors();
  if (fd < 0 || send(fd, "ready\n", 6, MSG_NOSIGNAL) != 6) return 1;
  std::string input;
  char chunk[4096];
  for (;;) {
    const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    input.append(chunk, static_cast<size_t>(n));
    size_t eol;
    while ((eol = input.find('\n')) != std::string::npos) {
      const std::string line = input.substr(0, eol);
      input.erase(0, eol + 1);
      if (line == "quit") return 0;
      if (line.rfind("ping ", 0) != 0) continue;
      const std::string pong = "pong " + line.substr(5) + "\n";
      if (send(fd, pong.data(), pong.size(), MSG_NOSIGNAL) < 0) return 1;
      Report(pong.substr(0, pong.size() - 1));
      if (mode == "exit") return 0;
      if (mode == "stall")
        for (;;) pause();
    }
  }
  if (mode == "stall")
    for (;;) pause();
  return 0;
}
