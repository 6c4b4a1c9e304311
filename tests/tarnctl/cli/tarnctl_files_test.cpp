// The files tarnctl reads and writes, run as a user without root (the
// tests drop to "nobody" when they run as root, and so does the simulated
// pager, whose pseudo-terminal then belongs to that user): `read -o` checks
// its target before the pager is woken and never replaces what the user set
// up (a read-only file, a hard link, a pipe, a device, a link), standard
// output, and S19 files the pager's 16-bit memory cannot hold.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>

#include "process.h"
#include "sim.h"

namespace {

using tarnctl_test::RunResult;
constexpr uid_t kNobody = 65534;

class TarnctlAsUser : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tarnctl_test::MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    root_ = geteuid() == 0;
    if (root_) {
      ASSERT_EQ(chown(dir_.c_str(), kNobody, kNobody), 0);
      ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    }
    // The simulator runs as the same user, so that its terminal is theirs.
    std::string wrapper = Path("pagersim-as-user");
    tarnctl_test::WriteFile(wrapper,
                            "#!/bin/sh\nexec " + AsUserPrefix() + PAGERSIM_EXE + " \"$@\"\n");
    ASSERT_EQ(chmod(wrapper.c_str(), 0755), 0);
    setenv("TARNCTL_PAGERSIM", wrapper.c_str(), 1);
    RunResult reg = Tarnctl({"register"});
    ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
  }
  void TearDown() override {
    sim_.reset();
    tarnctl_test::RemoveTree(dir_);
  }

  std::string AsUserPrefix() const {
    return root_ ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  }
  RunResult Tarnctl(std::vector<std::string> args, double timeout = 30) {
    args.insert(args.begin(), TARNCTL_EXE);
    if (root_)
      args.insert(args.begin(),
                  {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    return tarnctl_test::Run(
        args, {{"COMRT_REGISTRY", Path("registry")}, {"XDG_CONFIG_HOME", Path("config")}}, timeout);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // A file (or folder) the user owns.
  void Own(const std::string& path) {
    if (root_) {
      ASSERT_EQ(lchown(path.c_str(), kNobody, kNobody), 0) << path;
    }
  }
  void StartSim() {
    sim_ = tarnctl::SimulatedPager::Start({"--fast"});
    port_ = "device = " + sim_->Device() + " baud = 9600";
  }
  RunResult Read(const std::string& target) {
    return Tarnctl({"read", "0x100", "16", "-o", target, "--port", port_});
  }

  bool root_ = false;
  std::string dir_, port_;
  std::unique_ptr<tarnctl::SimulatedPager> sim_;
};

bool HasImage(const std::string& text) {
  return text.find("S1130100") != std::string::npos && text.find("S9") != std::string::npos;
}

// What a pipe brings until the end record arrives, reading for at most
// `seconds` (a tarnctl that never opens the pipe must not hang the test).
std::string ReadPipe(const std::string& path, int seconds) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  std::string text;
  for (int i = 0; fd >= 0 && i < seconds * 20 && text.find("S9") == std::string::npos; ++i) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[512];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) text.append(buffer, static_cast<size_t>(n));
    if (n == 0) usleep(50000);  // no writer yet
  }
  if (fd >= 0) close(fd);
  return text;
}

ino_t Inode(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST_F(TarnctlAsUser, OutputThatCannotBeWrittenIsFoundBeforeThePagerIsWoken) {
  port_ = "device = /dev/tarnctl-no-such-port";  // reaching the port would fail with exit 3
  tarnctl_test::WriteFile(Path("ro.s19"), "keep me\n");
  Own(Path("ro.s19"));
  ASSERT_EQ(chmod(Path("ro.s19").c_str(), 0444), 0);
  ASSERT_EQ(mkdir(Path("locked").c_str(), 0755), 0);
  Own(Path("locked"));
  ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);

  RunResult ro = Read(Path("ro.s19"));
  EXPECT_EQ(ro.exitCode, 4) << ro.err;
  EXPECT_NE(ro.err.find("cannot write " + Path("ro.s19") + ": it is read-only"), std::string::npos)
      << ro.err;
  EXPECT_EQ(tarnctl_test::ReadFile(Path("ro.s19")), "keep me\n");
  RunResult folder = Read(Path("locked/new.s19"));
  EXPECT_EQ(folder.exitCode, 4) << folder.err;
  EXPECT_NE(folder.err.find("no permission to create files in the folder"), std::string::npos)
      << folder.err;
  RunResult isFolder = Read(Path("locked"));
  EXPECT_EQ(isFolder.exitCode, 4) << isFolder.err;
  EXPECT_EQ(Read(Path("missing/new.s19")).exitCode, 4);
}

TEST_F(TarnctlAsUser, OutputIsWrittenInPlaceWhereReplacingItWouldUndoTheUsersSetup) {
  StartSim();
  // A writable file in a folder the user cannot write.
  ASSERT_EQ(mkdir(Path("locked").c_str(), 0755), 0);
  tarnctl_test::WriteFile(Path("locked/keep.s19"), "old\n");
  Own(Path("locked/keep.s19"));
  Own(Path("locked"));
  ASSERT_EQ(chmod(Path("locked").c_str(), 0555), 0);
  ino_t inode = Inode(Path("locked/keep.s19"));
  RunResult locked = Read(Path("locked/keep.s19"));
  EXPECT_EQ(locked.exitCode, 0) << locked.err;
  EXPECT_TRUE(HasImage(tarnctl_test::ReadFile(Path("locked/keep.s19"))));
  EXPECT_EQ(Inode(Path("locked/keep.s19")), inode);

  // A hard link stays one.
  tarnctl_test::WriteFile(Path("a.s19"), "old\n");
  Own(Path("a.s19"));
  ASSERT_EQ(link(Path("a.s19").c_str(), Path("b.s19").c_str()), 0);
  EXPECT_EQ(Read(Path("a.s19")).exitCode, 0);
  EXPECT_TRUE(HasImage(tarnctl_test::ReadFile(Path("b.s19")))) << "the hard link was split";

  // A dangling link gets the file it names; the link stays.
  ASSERT_EQ(symlink("made.s19", Path("link.s19").c_str()), 0);
  Own(Path("link.s19"));
  EXPECT_EQ(Read(Path("link.s19")).exitCode, 0);
  struct stat st {};
  ASSERT_EQ(lstat(Path("link.s19").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
  EXPECT_TRUE(HasImage(tarnctl_test::ReadFile(Path("made.s19"))));

  // A pipe is written into, and stays a pipe.
  ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
  Own(Path("pipe"));
  std::string fromPipe;
  std::thread reader([&] { fromPipe = ReadPipe(Path("pipe"), 30); });
  RunResult piped = Read(Path("pipe"));
  reader.join();
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_TRUE(HasImage(fromPipe)) << fromPipe;
  ASSERT_EQ(lstat(Path("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // "-" and any name of standard output: the data on standard output, the
  // summary on standard error.
  for (const char* name : {"-", "/proc/self/fd/1"}) {
    RunResult out = Read(name);
    EXPECT_EQ(out.exitCode, 0) << name << out.err;
    EXPECT_TRUE(HasImage(out.out)) << name << out.out;
    EXPECT_EQ(out.out.find("read 16 bytes"), std::string::npos) << name << out.out;
    EXPECT_NE(out.err.find("read 16 bytes"), std::string::npos) << name << out.err;
  }
}

TEST_F(TarnctlAsUser, DeviceNodesAreWrittenInPlaceAndTheirErrorsReported) {
  if (!root_) GTEST_SKIP() << "making device nodes needs root";
  // Nodes like the system's null and full devices, in the test's own folder.
  if (mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod(Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0)
    GTEST_SKIP() << "device nodes cannot be made here";
  for (const char* name : {"null", "full"}) ASSERT_EQ(chmod(Path(name).c_str(), 0666), 0);
  StartSim();
  RunResult null = Read(Path("null"));
  EXPECT_EQ(null.exitCode, 0) << null.err;
  RunResult full = Read(Path("full"));
  EXPECT_EQ(full.exitCode, 4) << full.err;
  EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
  for (const char* name : {"null", "full"}) {
    struct stat st {};
    ASSERT_EQ(lstat(Path(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << name << " was replaced by a file";
  }
  // A device node with nothing behind it (a terminal node, and the test has
  // no terminal) is there, not "missing".
  ASSERT_EQ(mknod(Path("tty").c_str(), S_IFCHR | 0666, makedev(5, 0)), 0);
  ASSERT_EQ(chmod(Path("tty").c_str(), 0666), 0);
  RunResult tty = Tarnctl({"identify", "--port", "device = " + Path("tty")});
  EXPECT_EQ(tty.exitCode, 3) << tty.err;
  EXPECT_NE(tty.err.find("cannot open port " + Path("tty") + ": No such device or address"),
            std::string::npos)
      << tty.err;
}

TEST_F(TarnctlAsUser, FilesThePagerCannotHoldAndOctalLookingNumbersAreNotMisread) {
  port_ = "device = /dev/tarnctl-no-such-port";  // reaching the port fails with exit 3
  tarnctl_test::WriteFile(Path("s2.s19"), "S2080021000102030000\nS804000000FB\n");
  RunResult s2 = Tarnctl({"write", Path("s2.s19"), "--port", port_});
  EXPECT_EQ(s2.exitCode, 4) << s2.err;
  EXPECT_NE(s2.err.find("line 1: an S2 record"), std::string::npos) << s2.err;
  RunResult none = Tarnctl({"verify", Path("nonexist.s19"), "--port", port_});
  EXPECT_EQ(none.exitCode, 4) << none.err;
  EXPECT_NE(none.err.find(Path("nonexist.s19") + ": no such file"), std::string::npos) << none.err;
  // "09" is nine, not a bad octal number: the read gets as far as the port.
  RunResult nine = Tarnctl({"read", "09", "1", "-o", Path("x.s19"), "--port", port_});
  EXPECT_EQ(nine.exitCode, 3) << nine.err;
  EXPECT_EQ(Tarnctl({"cmd", "42:08", "--port", port_}).exitCode, 3);
}

// A user cannot see which of root's processes (a modem manager, say) has
// the port open: a failure that a second reader of the line would explain
// says so, instead of presenting the line as free.
TEST_F(TarnctlAsUser, FailureSaysWhenSomeProcessesCouldNotBeChecked) {
  sim_ = tarnctl::SimulatedPager::Start({"--fast", "--fault", "wake:silence::0"});
  port_ = "device = " + sim_->Device() + " baud = 9600";
  RunResult r = Tarnctl({"identify", "--port", port_});
  EXPECT_NE(r.exitCode, 0) << r.err;
  if (root_) {  // this test process is root's: the user cannot read its descriptors
    EXPECT_NE(r.err.find("processes of other users could not be checked for holding " +
                         sim_->Device() + "; one of them may share the line"),
              std::string::npos)
        << r.err;
  }
}

TEST_F(TarnctlAsUser, TraceMasksThePasswordAndIsPrivate) {
  sim_ = tarnctl::SimulatedPager::Start({"--fast", "--status", "Y", "--password", "secretpw"});
  port_ = "device = " + sim_->Device() + " baud = 9600";
  tarnctl_test::WriteFile(Path("pw"), "secretpw\n");
  Own(Path("pw"));
  ASSERT_EQ(chmod(Path("pw").c_str(), 0644), 0);
  RunResult r = Tarnctl({"read", "0", "4", "-o", Path("r.s19"), "--password-file", Path("pw"),
                         "--trace", Path("trace.txt"), "--port", port_});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the password file " + Path("pw") + " can be read by other"),
            std::string::npos)
      << r.err;
  std::string trace = tarnctl_test::ReadFile(Path("trace.txt"));
  EXPECT_EQ(trace.find("73 65 63 72 65 74 70 77"), std::string::npos) << trace;  // "secretpw"
  // Ten host bytes masked, in as many lines as the bytes came in bursts.
  size_t masked = 0;
  for (size_t at = 0; (at = trace.find("> **", at)) != std::string::npos; ++at)
    for (size_t star = at + 1; trace.compare(star, 3, " **") == 0; star += 3) ++masked;
  EXPECT_EQ(masked, 10u) << trace;
  EXPECT_NE(trace.find("# the download password, masked"), std::string::npos) << trace;
  struct stat st {};
  ASSERT_EQ(stat(Path("trace.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A trace that cannot be written, or has no name, is an error, not a silent loss.
  if (root_ && mknod(Path("full").c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0) {
    ASSERT_EQ(chmod(Path("full").c_str(), 0666), 0);
    RunResult full = Tarnctl({"identify", "--trace", Path("full"), "--port", port_});
    EXPECT_EQ(full.exitCode, 4) << full.err;
    EXPECT_NE(full.err.find("cannot write the trace file"), std::string::npos) << full.err;
  }
  EXPECT_EQ(Tarnctl({"identify", "--trace", "", "--port", port_}).exitCode, 1);
}

TEST_F(TarnctlAsUser, AnUnreadablePortsFileIsAUsageErrorThatSaysWhy) {
  tarnctl_test::WriteFile(Path("ports"), "device = /dev/tarnctl-no-such-port\n");
  Own(Path("ports"));
  ASSERT_EQ(chmod(Path("ports").c_str(), 0), 0);
  RunResult r = Tarnctl({"identify", "--ports", Path("ports")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("cannot read the ports file " + Path("ports") + ": no permission"),
            std::string::npos)
      << r.err;
}

}  // namespace
