// What the direct channel refuses before it drives a line: a device that
// another program already has open, and stop bits that no UART can frame
// with the word size asked for. The search for the holder itself: in a
// process table of the test's own making (links to the device, this
// process, unreadable and vanished processes, names with control
// characters), and the claim that locks before it looks.
#include "tarn/channel/port_holder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "code_of.h"
#include "fake_port.h"
#include "pty_pair.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

using testsupport::CodeOf;

// A child process named "holder" that opens `path` without any lock and
// keeps it open until it is killed.
class Holder {
 public:
  explicit Holder(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return;
    pid = fork();
    if (pid == 0) {
      prctl(PR_SET_NAME, "holder");
      int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      char c = fd >= 0 ? 'y' : 'n';
      if (write(ready[1], &c, 1) != 1) _exit(1);
      pause();
      _exit(0);
    }
    close(ready[1]);
    char c = 'n';
    opened = pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
  }
  ~Holder() { Stop(); }
  void Stop() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
  }
  pid_t pid = -1;
  bool opened = false;
};

TEST(PortHolder, AnotherProgramWithTheDeviceOpenIsRefusedAndNamed) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  std::string settings = "device = " + pty.SlavePath();
  CDirectSerialChannel ch;
  ch.SetSettings(settings.c_str());
  // This process's own descriptors (the pair keeps one) do not count.
  PortHolder found;
  EXPECT_FALSE(FindPortHolder(pty.SlavePath(), &found));
  {
    Holder other(pty.SlavePath());
    ASSERT_TRUE(other.opened);
    ASSERT_TRUE(FindPortHolder(pty.SlavePath(), &found));
    EXPECT_EQ(found.pid, other.pid);
    EXPECT_EQ(found.name, "holder");
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), 1);
    EXPECT_FALSE(ch.IsOpen());
    EXPECT_STREQ(ch.FailureReason(), "port busy");
  }
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), 0);
  ch.Close();
}

// A process table of the test's making: /<pid>/fd/<n> links and
// /<pid>/comm files, as /proc has them.
class FakeProc {
 public:
  FakeProc() {
    char tmpl[] = "/tmp/fakeproc-XXXXXX";
    if (mkdtemp(tmpl) != nullptr) dir = tmpl;
    chmod(dir.c_str(), 0755);
  }
  ~FakeProc() {
    if (!dir.empty()) std::system(("chmod -R u+rwx " + dir + "; rm -rf " + dir).c_str());
  }
  void Process(int pid, const std::string& comm, const std::vector<std::string>& fds,
               mode_t fdMode = 0755) {
    const std::string p = dir + "/" + std::to_string(pid);
    mkdir(p.c_str(), 0755);
    mkdir((p + "/fd").c_str(), 0755);
    std::ofstream(p + "/comm") << comm << "\n";
    for (size_t i = 0; i < fds.size(); ++i)
      symlink(fds[i].c_str(), (p + "/fd/" + std::to_string(i + 3)).c_str());
    chmod((p + "/fd").c_str(), fdMode);
  }
  std::string dir;
};

// The search as an unprivileged user (root reads every folder): in a
// child, so that the test process keeps its rights.
bool SearchAsUser(const std::string& procDir, const std::string& path, PortHolder* out) {
  int result[2];
  if (pipe(result) != 0) return false;
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    PortHolder h;
    int32_t answer[3] = {FindPortHolderIn(procDir, path, &h) ? 1 : 0, h.pid, h.unchecked};
    _exit(write(result[1], answer, sizeof answer) == sizeof answer ? 0 : 3);
  }
  close(result[1]);
  int32_t answer[3] = {0, 0, -1};
  const bool got = read(result[0], answer, sizeof answer) == sizeof answer;
  close(result[0]);
  waitpid(pid, nullptr, 0);
  out->pid = answer[1];
  out->unchecked = answer[2];
  return got && answer[0] == 1;
}

TEST(PortHolder, SearchFindsLinksSkipsItselfCountsWhatItCannotReadAndEscapesNames) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  FakeProc proc;
  ASSERT_FALSE(proc.dir.empty());
  ASSERT_EQ(symlink(pty.SlavePath().c_str(), (proc.dir + "/port-link").c_str()), 0);
  // This process itself, another device, a name that is no process, one
  // that vanished: none is a holder, and none is "not checked".
  proc.Process(static_cast<int>(getpid()), "self", {pty.SlavePath()});
  proc.Process(4002, "other", {"/dev/null", "socket:[123]"});
  mkdir((proc.dir + "/self-link").c_str(), 0755);
  mkdir((proc.dir + "/4004").c_str(), 0755);  // gone: no fd folder left
  PortHolder h;
  EXPECT_FALSE(FindPortHolderIn(proc.dir, pty.SlavePath(), &h));
  EXPECT_EQ(h.unchecked, 0);
  // Another user's process: its descriptors cannot be read, and it is
  // counted (searched from a child, which this table does not name).
  FakeProc others;
  others.Process(4001, "ModemManager", {pty.SlavePath()}, 0);
  others.Process(4002, "other", {"/dev/null"});
  EXPECT_FALSE(SearchAsUser(others.dir, pty.SlavePath(), &h));
  EXPECT_EQ(h.unchecked, 1);
  // A holder whose name carries escape sequences, found by the device
  // number whatever name the caller uses.
  proc.Process(4003, "ev\x1b]0;x\x07il\\", {"/dev/null", pty.SlavePath()});
  ASSERT_TRUE(FindPortHolderIn(proc.dir, proc.dir + "/port-link", &h));
  EXPECT_EQ(h.pid, 4003);
  EXPECT_EQ(h.name, "ev\\x1B]0;x\\x07il\\x5C");
  EXPECT_EQ(EscapedProgramName("minicom"), "minicom");
  EXPECT_EQ(EscapedProgramName("a\x9b"
                               "1m\x7f"),
            "a\\x9B1m\\x7F");
  EXPECT_FALSE(FindPortHolderIn(proc.dir, "/dev/zero", &h)) << "not the device searched";
}

// The claim takes the lock and the exclusive mode before it looks for
// earlier openers, so nobody can open the line between the two; a holder
// found undoes both, so the holder is not shut out of its own line.
TEST(PortHolder, ClaimLocksBeforeItLooksAndUndoesTheLockWhenRefused) {
  testpty::PtyPair pty;
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  const std::string path = pty.SlavePath();
  auto lockedElsewhere = [&] {
    int other = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool locked = other >= 0 && flock(other, LOCK_EX | LOCK_NB) != 0;
    if (other >= 0) close(other);
    return locked;
  };
  auto exclusive = [](int fd) {
    int on = 0;
    return ioctl(fd, TIOCGEXCL, &on) == 0 && on != 0;
  };
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  bool lockedWhenLooking = false, exclusiveWhenLooking = false;
  PortHolder h;
  EXPECT_EQ(ClaimPort(fd, path, &h,
                      [&](const std::string&, PortHolder*) {
                        lockedWhenLooking = lockedElsewhere();
                        exclusiveWhenLooking = exclusive(fd);
                        return false;
                      }),
            0);
  EXPECT_TRUE(lockedWhenLooking);
  EXPECT_TRUE(exclusiveWhenLooking);
  EXPECT_TRUE(lockedElsewhere());
  close(fd);

  fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ClaimPort(fd, path, &h,
                      [](const std::string&, PortHolder* found) {
                        found->pid = 77;
                        return true;
                      }),
            EBUSY);
  EXPECT_EQ(h.pid, 77);
  EXPECT_FALSE(exclusive(fd));
  EXPECT_FALSE(lockedElsewhere());
  // A device locked already is busy before anything is searched.
  int holder = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  bool searched = false;
  EXPECT_EQ(ClaimPort(fd, path, &h,
                      [&](const std::string&, PortHolder*) {
                        searched = true;
                        return false;
                      }),
            EBUSY);
  EXPECT_FALSE(searched);
  close(holder);
  close(fd);
}

TEST(LineSettings, StopBitsMustFitTheWordSize) {
  struct Case {
    const char* text;
    int code;
  };
  // One and a half stop bits come only with 5-bit words, two only with
  // longer ones, on every platform alike.
  for (Case c : {Case{"data = 8 stop = 1.5", 3}, Case{"data = 5 stop = 2", 3},
                 Case{"data = 5 stop = 1.5", 0}, Case{"data = 8 stop = 2", 0},
                 Case{"data = 5 stop = 1", 0}}) {
    auto owned = std::make_unique<FakePort>();
    FakePort* port = owned.get();
    CDirectSerialChannel ch(std::move(owned));
    ch.SetSettings("device = COM1");
    ch.SetSettings(c.text);
    EXPECT_EQ(CodeOf([&] { ch.Open(); }), c.code) << c.text;
    EXPECT_EQ(ch.IsOpen(), c.code == 0) << c.text;
    EXPECT_FALSE(port->isOpen && c.code != 0) << c.text;
  }
}

}  // namespace
}  // namespace tarn
