// A private tmux server with one pane, for tests that run a program on a
// real terminal and read the screen back. Each session has its own socket
// (tmux -L) and ignores any user configuration.
#ifndef TESTS_UI_TMUX_SESSION_H
#define TESTS_UI_TMUX_SESSION_H

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace th_test {

class TmuxSession {
 public:
  static bool Available() { return std::system("tmux -V >/dev/null 2>&1") == 0; }

  // Starts `command` (a shell command line) in a detached pane of cols x rows,
  // in a UTF-8 locale; the pane stays after the command ends.
  TmuxSession(const std::string& command, int cols = 80, int rows = 24) {
    static int counter = 0;
    socket_ = "th-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    const std::string line = "LC_ALL=C.UTF-8 TERM=screen tmux -L " + socket_ +
                             " -f /dev/null new-session -d -x " + std::to_string(cols) + " -y " +
                             std::to_string(rows) + " " +
                             Quote("export LC_ALL=C.UTF-8; " + command + "; exec sleep 120");
    started_ = std::system(line.c_str()) == 0;
  }
  ~TmuxSession() { Run("kill-server"); }
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;

  bool Started() const { return started_; }

  // tmux send-keys with key names (e.g. "Down Tab Enter").
  void Keys(const std::string& keys) { Run("send-keys " + keys); }

  std::string Capture() {
    std::string out;
    const std::string line = "tmux -L " + socket_ + " capture-pane -p 2>/dev/null";
    if (FILE* p = popen(line.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      pclose(p);
    }
    return out;
  }

  // Captures until pred holds (true) or the time runs out (false).
  bool WaitFor(const std::function<bool(const std::string&)>& pred, std::string* last = nullptr,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      std::string screen = Capture();
      if (last) *last = screen;
      if (pred(screen)) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Captures until the screen shows `text` (true) or the time runs out.
  bool WaitForText(const std::string& text, std::string* last = nullptr) {
    return WaitFor([&](const std::string& s) { return s.find(text) != std::string::npos; }, last);
  }

  // Captures until the screen no longer shows `text` (true) or the time runs out.
  bool WaitUntilGone(const std::string& text, std::string* last = nullptr) {
    return WaitFor([&](const std::string& s) { return s.find(text) == std::string::npos; }, last);
  }

  static std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
      if (c == '\'')
        q += "'\\''";
      else
        q += c;
    }
    return q + "'";
  }

 private:
  void Run(const std::string& args) {
    const std::string line = "tmux -L " + socket_ + " " + args + " >/dev/null 2>&1";
    (void)std::system(line.c_str());
  }

  std::string socket_;
  bool started_ = false;
};

// A directory for a demo program's stage files (stage_<n> / go_<n>).
class StageDir {
 public:
  StageDir() {
    char tmpl[] = "/tmp/th-stage-XXXXXX";
    const char* d = mkdtemp(tmpl);
    path_ = d ? d : "";
  }
  ~StageDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  // Waits until the program reached stage n.
  bool Reached(int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    const std::string mark = path_ + "/stage_" + std::to_string(n);
    while (!std::filesystem::exists(mark)) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }
  // Lets the program go on past stage n.
  void Go(int n) const {
    if (FILE* f = std::fopen((path_ + "/go_" + std::to_string(n)).c_str(), "w")) std::fclose(f);
  }

 private:
  std::string path_;
};

inline bool Has(const std::string& screen, const std::string& text) {
  return screen.find(text) != std::string::npos;
}

}  // namespace th_test

#endif  // TESTS_UI_TMUX_SESSION_H
