// The desktop backend's helper process, without a display: a stand-in
// helper (fake_ui_helper) reports what it was given and plays a helper
// that stalls or ends early. Each case runs in a child process of its own
// (it changes descriptors, the environment and the process table) and
// reports by its exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "holm/ui/ui.h"

namespace holm::ui {
namespace {

// The window keeps a reference to its template: one that lives on.
const DialogTemplate& ProgressTemplate() {
  static DialogTemplate t;
  t.id = 951;
  t.caption = "Helper Test";
  t.width = 160;
  t.height = 40;
  t.controls = {MakeControl(1000, ControlKind::kLabel, "step", {7, 7, 140, 10})};
  return t;
}

// In the child: shows a window and closes it again (the helper starts,
// answers and is told to go).
int ShowAndClose() {
  auto w = CreateModeless(ProgressTemplate());
  w->Show();
  w.reset();
  return 0;
}

class DesktopHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/ui-helper-report-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    report_ = name;
  }
  void TearDown() override { unlink(report_.c_str()); }

  // Runs `body` in a child with the desktop backend and the stand-in
  // helper in `mode`; the child's exit code, or 128 + signal.
  int InChild(const char* mode, const std::function<int()>& body, int seconds = 20) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      alarm(static_cast<unsigned>(seconds));
      setenv("HOLM_UI_HELPER", FAKE_UI_HELPER, 1);
      setenv("FAKE_UI_HELPER_REPORT", report_.c_str(), 1);
      setenv("FAKE_UI_HELPER_MODE", mode, 1);
      SetBackend(BackendByName("desktop"));
      _exit(body());
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // The report's "fd N TARGET" lines as "N TARGET".
  std::set<std::string> HelperDescriptors() const {
    std::ifstream in(report_);
    std::set<std::string> fds;
    for (std::string line; std::getline(in, line);)
      if (line.rfind("fd ", 0) == 0) fds.insert(line.substr(3));
    return fds;
  }
  std::string Report() const {
    std::ifstream in(report_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  pid_t HelperPid() const {
    std::ifstream in(report_);
    std::string word;
    pid_t pid = 0;
    in >> word >> pid;
    return word == "pid" ? pid : 0;
  }

  std::string report_;
};

// A serial port and a file the client holds without close-on-exec stay
// with the client: the helper has /dev/null, the client's standard error
// and its socket on 3, nothing more.
TEST_F(DesktopHelper, OnlyTheDescriptorsItNeedsReachTheHelper) {
  const int code = InChild("normal", [] {
    int master = -1, port = -1;
    if (openpty(&master, &port, nullptr, nullptr, nullptr) != 0) return 10;
    if (open("/dev/zero", O_RDONLY) < 0) return 11;  // without O_CLOEXEC
    return ShowAndClose();
  });
  ASSERT_EQ(code, 0);
  std::set<std::string> fds = HelperDescriptors();
  EXPECT_EQ(fds.size(), 4u) << Report();
  EXPECT_EQ(fds.count("0 /dev/null"), 1u) << Report();
  EXPECT_EQ(fds.count("1 /dev/null"), 1u) << Report();
  for (const std::string& fd : fds) {
    EXPECT_EQ(fd.find("/dev/pts/"), std::string::npos) << Report();
    EXPECT_EQ(fd.find("/dev/ptmx"), std::string::npos) << Report();
    EXPECT_EQ(fd.find("/dev/zero"), std::string::npos) << Report();
  }
  EXPECT_NE(Report().find("fd 3 socket:"), std::string::npos) << Report();
  EXPECT_NE(Report().find("pong 1"), std::string::npos) << "the window was not shown";
}

// A daemon-like client with 0, 1 and 2 closed: the socket still arrives on
// 3 and the window is shown; the helper's 0 to 2 are /dev/null.
TEST_F(DesktopHelper, ClientWithoutStandardDescriptorsStillGetsAWorkingHelper) {
  const int code = InChild("normal", [] {
    close(0);
    close(1);
    close(2);
    return ShowAndClose();
  });
  ASSERT_EQ(code, 0);
  std::set<std::string> fds = HelperDescriptors();
  EXPECT_EQ(fds.count("0 /dev/null"), 1u) << Report();
  EXPECT_EQ(fds.count("1 /dev/null"), 1u) << Report();
  EXPECT_EQ(fds.count("2 /dev/null"), 1u) << Report();
  EXPECT_NE(Report().find("fd 3 socket:"), std::string::npos) << Report();
  EXPECT_NE(Report().find("pong 1"), std::string::npos) << "the window was not shown";
}

// A helper that stops reading (stopped, hung on its display): the client
// goes on updating its window (5 MB of updates, far beyond what the socket
// holds) and closes it; a client that waited on the helper would be
// stopped by the child's alarm.
TEST_F(DesktopHelper, StalledHelperNeverBlocksTheUpdates) {
  const int code = InChild("stall", [] {
    auto w = CreateModeless(ProgressTemplate());
    w->Show();
    const std::string text(200, 'x');
    for (int i = 0; i < 20000; ++i) w->SetText(1000, text + std::to_string(i));
    w.reset();
    return 0;
  });
  EXPECT_EQ(code, 0) << "142: the client hung (alarm)";
  const pid_t helper = HelperPid();
  ASSERT_GT(helper, 0);
  if (kill(helper, 0) == 0) {
    ADD_FAILURE() << "the stalled helper was left running";
    kill(helper, SIGKILL);  // not to outlive the failed run
  }
}

// The client reaps its children itself: once it reaped the helper, the
// helper's process ID may go to another child of the client, which the
// window's end must not kill.
TEST_F(DesktopHelper, AReusedProcessIdIsNeverSignalled) {
  const int code = InChild("exit", [this] {
    auto w = CreateModeless(ProgressTemplate());
    w->Show();
    const pid_t helper = HelperPid();
    if (helper <= 0 || waitpid(helper, nullptr, 0) != helper) return 30;  // the client reaps it
    // The next process gets the helper's ID (root's pid namespaces allow it).
    FILE* last = std::fopen("/proc/sys/kernel/ns_last_pid", "w");
    if (last == nullptr) return 77;
    std::fprintf(last, "%d", helper - 1);
    std::fclose(last);
    const pid_t other = fork();
    if (other == 0) {
      pause();
      _exit(0);
    }
    if (other != helper) {
      kill(other, SIGKILL);
      waitpid(other, nullptr, 0);
      return 77;
    }
    w.reset();  // gives the helper a second, then would kill it
    const bool alive = waitpid(other, nullptr, WNOHANG) == 0;
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
    return alive ? 0 : 31;
  });
  if (code == 77) GTEST_SKIP() << "cannot choose the next process ID here (needs root)";
  EXPECT_EQ(code, 0) << "31: the other child was killed";
}

}  // namespace
}  // namespace holm::ui
