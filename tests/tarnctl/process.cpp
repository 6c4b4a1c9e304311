#include "process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarnctl_test {

RunResult Run(const std::vector<std::string>& argv,
              const std::vector<std::pair<std::string, std::string>>& env, double timeoutSeconds,
              const std::string& input) {
  RunResult r;
  int out[2], err[2], in[2];
  if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0) return r;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    setsid();  // no controlling terminal: no dialogs, no progress window
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) close(fd);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(in[0]);
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) {
  }
  close(in[1]);
  bool outOpen = true, errOpen = true;
  char buffer[4096];
  while (outOpen || errOpen) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (elapsed > timeoutSeconds) {
      r.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (!fds[i].revents) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        (i == 0 ? outOpen : errOpen) = false;
      } else {
        (i == 0 ? r.out : r.err).append(buffer, static_cast<size_t>(n));
      }
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  return r;
}

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarnctl-test-XXXXXX").string();
  char* dir = mkdtemp(pattern.data());
  return dir ? std::string(dir) : std::string();
}

void RemoveTree(const std::string& dir) {
  std::error_code ec;
  if (!dir.empty()) std::filesystem::remove_all(dir, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string S19File(unsigned address, const std::vector<unsigned char>& data) {
  std::string text = "S00600004844521B\n";
  char t[16];
  for (size_t i = 0; i < data.size(); i += 16) {
    size_t n = std::min<size_t>(16, data.size() - i);
    unsigned a = address + static_cast<unsigned>(i), sum = static_cast<unsigned>(n) + 3;
    std::snprintf(t, sizeof t, "S1%02X%04X", static_cast<unsigned>(n) + 3, a);
    std::string line = t;
    sum += (a >> 8) + (a & 0xFF);
    for (size_t j = i; j < i + n; ++j) {
      std::snprintf(t, sizeof t, "%02X", data[j]);
      line += t;
      sum += data[j];
    }
    std::snprintf(t, sizeof t, "%02X", ~sum & 0xFF);
    text += line + t + "\n";
  }
  return text + "S9030000FC\n";
}

void TraceBytes(const std::string& trace, std::string* toPager, std::string* toHost) {
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string time, direction, byte;
    words >> time >> direction;
    std::string* out = direction == ">" ? toPager : toHost;
    while (words >> byte && byte != "#") *out += " " + byte;  // "# ..." notes a line
  }
}

std::string TranscriptBytes(const std::string& transcript, const std::string& direction) {
  std::string out;
  std::istringstream lines(transcript);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string time, unit, way, byte;
    if (words >> time >> unit >> way >> byte && way == direction) out += " " + byte;
  }
  return out;
}

}  // namespace tarnctl_test
