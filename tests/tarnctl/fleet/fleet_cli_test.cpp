// tarnctl's job path against simulated pagers in real time: writing only
// what changed, a fleet in which one pager drops off and another needs a
// retry, Ctrl-C and SIGTERM in the middle of a fleet write, the fleet
// options checked and shown as a single pager's are, and the live display
// on a narrow terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "sim_fixture.h"

namespace {

using tarnctl_test::RunResult;
using tarnctl_test::S19File;

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class FleetCli : public tarnctl_test::SimFixture {
 protected:
  // Starts tarnctl with ARGS, its output both ways into the file `out`.
  pid_t Spawn(std::vector<std::string> args, const std::string& out) {
    return SpawnTarnctl(std::move(args), out, out, false);
  }
  // Waits until `text` shows `count` times in the file (at most 15 s).
  void WaitText(const std::string& file, const std::string& text, size_t count) {
    for (int i = 0; i < 300 && Count(tarnctl_test::ReadFile(file), text) < count; ++i)
      usleep(50 * 1000);
  }
  // The wait status of `pid`, which is killed when it runs past `seconds`.
  int WaitEnd(pid_t pid, double seconds, bool* timedOut) {
    int status = 0;
    *timedOut = false;
    for (int i = 0; i < seconds * 20; ++i) {
      if (waitpid(pid, &status, WNOHANG) == pid) return status;
      usleep(50 * 1000);
    }
    *timedOut = true;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
  }
};

TEST_F(FleetCli, ChangedOnlyWritesTheMergedDifferenceAndNothingOnceItIsThere) {
  std::vector<unsigned char> file(64), held(64);
  for (int i = 0; i < 64; ++i) file[i] = held[i] = static_cast<unsigned char>(i * 3);
  held[5] ^= 0xFF;  // two differences 44 bytes apart: one block is cheaper than two
  held[50] ^= 0xFF;
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0400, file));
  tarnctl_test::WriteFile(Path("held.s19"), S19File(0x0400, held));
  std::string port = Sim({"--fast", "--image", Path("held.s19"), "--dump", Path("dump.bin")});

  RunResult dry = Tarnctl({"write", Path("in.s19"), "--changed-only", "--dry-run", "--port", port});
  ASSERT_EQ(dry.exitCode, 0) << dry.out << dry.err;
  EXPECT_NE(dry.out.find("plan: 1 block(s) to write, 18 bytes of the file skipped"),
            std::string::npos)
      << dry.out;
  EXPECT_NE(dry.out.find("dry run: nothing written"), std::string::npos) << dry.out;

  RunResult w = Tarnctl({"write", Path("in.s19"), "--changed-only", "--json", "--log",
                         Path("log.jsonl"), "--port", port});
  ASSERT_EQ(w.exitCode, 0) << w.out << w.err;
  EXPECT_EQ(Count(w.out, "\n"), 1u) << "one JSON object alone: " << w.out;
  nlohmann::json record = nlohmann::json::parse(w.out);
  EXPECT_EQ(record.at("written_bytes"), 46) << w.out;
  EXPECT_EQ(record.at("written_blocks"), 1) << w.out;
  EXPECT_EQ(record.at("read_bytes"), 110) << w.out;
  EXPECT_EQ(record.at("read_blocks"), 2) << w.out;
  EXPECT_EQ(tarnctl_test::ReadFile(Path("log.jsonl")), w.out);

  RunResult again = Tarnctl({"write", Path("in.s19"), "--changed-only", "--port", port});
  ASSERT_EQ(again.exitCode, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("wrote 0 bytes in 0 block(s)"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find("the pager already holds the file"), std::string::npos) << again.out;
  sims_.clear();  // writes the dump
  std::string memory = tarnctl_test::ReadFile(Path("dump.bin"));
  ASSERT_EQ(memory.size(), 0x10000u);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<unsigned char>(memory[0x400 + i]), file[i]);
}

TEST_F(FleetCli, APagerThatDropsOffFailsAloneAndAFailedWriteIsRetried) {
  std::vector<unsigned char> data = {1, 2, 3, 4, 5, 6, 7, 8};
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0500, data));
  std::string good = Sim({"--fast", "--dump", Path("good.bin")});
  std::string drops = Sim({"--fast", "--fault", "first-ack:disconnect"});
  std::string once =
      Sim({"--fast", "--fault", "second-ack:wrong:0x15", "--dump", Path("once.bin")});
  tarnctl_test::WriteFile(Path("ports"), "# bench\n" + good + "\n" + drops + "  # left\n" + once);
  RunResult r = Tarnctl({"write", Path("in.s19"), "--ports", Path("ports"), "--retries", "1",
                         "--log", Path("log.jsonl")},
                        80);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_NE(r.out.find("2 of 3 pager(s) ok"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("failed*"), std::string::npos) << "partial write of the dropped pager\n"
                                                      << r.out;
  std::string log = tarnctl_test::ReadFile(Path("log.jsonl"));
  EXPECT_EQ(Count(log, "\n"), 3u) << log;
  size_t ok = 0, retried = 0, partial = 0;
  std::set<std::string> digests;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    nlohmann::json record = nlohmann::json::parse(line);
    ok += record.at("result") == "ok";
    retried += record.at("attempts") == 2;
    partial += record.at("partial_write") == true;
    digests.insert(record.at("sha256").get<std::string>());
  }
  EXPECT_EQ(ok, 2u) << log;
  EXPECT_EQ(retried, 2u) << "the failed pagers were retried once\n" << log;
  EXPECT_EQ(partial, 1u) << log;
  EXPECT_EQ(digests.size(), 1u) << "every line names the same image digest\n" << log;
  EXPECT_EQ(digests.begin()->size(), 64u) << log;
  sims_.clear();
  for (const char* dump : {"good.bin", "once.bin"}) {
    std::string memory = tarnctl_test::ReadFile(Path(dump));
    ASSERT_EQ(memory.size(), 0x10000u) << dump;
    for (size_t i = 0; i < data.size(); ++i)
      EXPECT_EQ(static_cast<unsigned char>(memory[0x500 + i]), data[i]) << dump;
  }

  RunResult dup = Tarnctl({"identify", "--port", good, "--port", good + " parity = no"});
  EXPECT_EQ(dup.exitCode, 1) << dup.out << dup.err;
  EXPECT_NE(dup.err.find("name the same device"), std::string::npos) << dup.err;
}

TEST_F(FleetCli, OnePasswordGoesToEveryPagerThatAsks) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0700, {0xFF, 0xFF}));  // blank memory
  std::string asks = Sim({"--status", "Y", "--password", "shop-pw"}), plain = Sim({});
  tarnctl_test::WriteFile(Path("pw"), "shop-pw\n");
  RunResult r = Tarnctl(
      {"verify", Path("in.s19"), "--port", asks, "--port", plain, "--password-file", Path("pw")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  tarnctl_test::WriteFile(Path("pw"), "wrong\n");
  r = Tarnctl(
      {"verify", Path("in.s19"), "--port", plain, "--port", asks, "--password-file", Path("pw")});
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_NE(r.out.find("1 of 2 pager(s) ok"), std::string::npos) << r.out;
}

TEST_F(FleetCli, CtrlCStopsEveryPagerAfterItsBlockAndNamesThePartialWrites) {
  std::vector<unsigned char> data(24, 0x5A);
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0600, data));
  std::string a = Sim({"--fast"}), b = Sim({"--fast"});
  // SIGTERM as Ctrl-C: both stop the pagers after their block, and the
  // process ends by the signal after the summary (130 and 143 in a shell), so
  // a shell loop over batches stops too.
  for (int sig : {SIGINT, SIGTERM}) {
    std::string out = Path("out.txt");
    pid_t pid = Spawn({"write", Path("in.s19"), "--block", "8", "--port", a, "--port", b}, out);
    ASSERT_GT(pid, 0);
    // Once both pagers are writing (the plain lines say so), the first
    // block's 3 s settle is under way.
    WaitText(out, "] write", 2);
    usleep(500 * 1000);
    kill(pid, sig);
    bool timedOut = false;
    int status = WaitEnd(pid, 30, &timedOut);
    std::string text = tarnctl_test::ReadFile(out);
    ASSERT_FALSE(timedOut) << text;
    ASSERT_TRUE(WIFSIGNALED(status)) << "ended with exit code " << WEXITSTATUS(status) << "\n"
                                     << text;
    EXPECT_EQ(WTERMSIG(status), sig) << text;
    EXPECT_EQ(Count(text, "interrupted*"), 2u) << text;
    EXPECT_NE(text.find("partial write"), std::string::npos) << text;
    EXPECT_NE(text.find("0 of 2 pager(s) ok"), std::string::npos) << text;
  }
}

TEST_F(FleetCli, ASecondCtrlCStopsAtOnceEvenDuringALongActivation) {
  // Pagers that take a minute to acknowledge the activation: the first
  // Ctrl-C waits for that safe point, the second does not.
  std::string a = Sim({"--activate-delay", "60000"}), b = Sim({"--activate-delay", "60000"});
  std::string out = Path("out.txt");
  pid_t pid = Spawn({"activate", "--port", a, "--port", b}, out);
  ASSERT_GT(pid, 0);
  WaitText(out, "] activate", 2);
  usleep(500 * 1000);
  kill(pid, SIGINT);
  WaitText(out, "interrupted;", 1);
  kill(pid, SIGINT);
  bool timedOut = false;
  int status = WaitEnd(pid, 10, &timedOut);
  std::string text = tarnctl_test::ReadFile(out);
  ASSERT_FALSE(timedOut) << "a second Ctrl-C was ignored\n" << text;
  ASSERT_TRUE(WIFSIGNALED(status)) << text;
  EXPECT_EQ(WTERMSIG(status), SIGINT) << text;
  EXPECT_NE(text.find("stopped at once"), std::string::npos) << text;
  EXPECT_EQ(Count(text, ": stopped during activate"), 2u) << text;
  // The ports were closed with the process: a new job gets them at once.
  sims_.clear();
}

TEST_F(FleetCli, EveryPortEntryIsCheckedAsASinglePortIsBeforeAnythingStarts) {
  std::string a = Sim({}), b = Sim({});
  std::string bDevice = b.substr(9, b.find(" baud") - 9);
  RunResult r =
      Tarnctl({"identify", "--port", a, "--port", "device = " + bDevice + " baud = 12345"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("--port entry 2: baud = \"12345\""), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("] identify"), std::string::npos) << "a pager was woken\n" << r.out;

  tarnctl_test::WriteFile(Path("ports"), a + "\n" + "device = " + bDevice + " parity = banana\n");
  r = Tarnctl({"identify", "--ports", Path("ports")});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("line 2 of " + Path("ports") + ": parity = \"banana\""), std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("] identify"), std::string::npos) << r.out;

  // A '#' inside a quoted value is part of the device's name.
  Sim({"--symlink", Path("pager#1")});
  tarnctl_test::WriteFile(Path("ports"),
                          a + "  # bench 1\ndevice = \"" + Path("pager#1") + "\" # bench 2\n");
  r = Tarnctl({"identify", "--ports", Path("ports")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("2 of 2 pager(s) ok"), std::string::npos) << r.out;

  // A ports file with a byte-order mark, or a folder: a clear usage error.
  tarnctl_test::WriteFile(Path("ports"), "\xEF\xBB\xBF" + a + "\n");
  r = Tarnctl({"identify", "--ports", Path("ports")});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("starts with a UTF-8 byte-order mark"), std::string::npos) << r.err;
  r = Tarnctl({"identify", "--ports", dir_});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("it is a folder"), std::string::npos) << r.err;
}

TEST_F(FleetCli, RetriesRepeatOnlyWhatCanChangeAndLeaveTheHumanOutputAsItWas) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0700, {0xFF, 0xFF}));  // blank memory
  std::string asks = Sim({"--status", "Y", "--password", "shop-pw"});
  tarnctl_test::WriteFile(Path("pw"), "wrong\n");
  // A wrong password is sent once, however many retries are allowed; the
  // message keeps its hint.
  RunResult r = Tarnctl({"verify", Path("in.s19"), "--port", asks, "--password-file", Path("pw"),
                         "--retries", "3", "--log", Path("log.jsonl")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("\n  hint: check the download password"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("attempt"), std::string::npos) << r.err;
  EXPECT_NE(tarnctl_test::ReadFile(Path("log.jsonl")).find("\"attempts\":1"), std::string::npos);

  // In a fleet: a disabled pager is not asked again, a missing port is,
  // and "attempt failed" is told only when another attempt follows.
  std::string disabled = Sim({"--status", "D"});
  std::string missing = "device = " + Path("gone");
  r = Tarnctl({"identify", "--port", disabled, "--port", missing});
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_EQ(r.out.find("attempt"), std::string::npos) << "--retries 0\n" << r.out;
  r = Tarnctl({"identify", "--port", disabled, "--port", missing, "--retries", "1", "--log",
               Path("fleet.jsonl")});
  EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
  EXPECT_EQ(Count(r.out, "attempt 1 failed"), 1u) << r.out;
  EXPECT_NE(r.out.find("[" + Path("gone") + "] attempt 1 failed"), std::string::npos) << r.out;
  std::string log = tarnctl_test::ReadFile(Path("fleet.jsonl"));
  EXPECT_EQ(Count(log, "\"attempts\":1"), 1u) << log;
  EXPECT_EQ(Count(log, "\"attempts\":2"), 1u) << log;
  // A fleet identify shows each pager's type and status.
  EXPECT_NE(r.out.find("type status"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 8B   D "), std::string::npos) << r.out;

  // One pager with --retries or --log: the output of the plain command
  // (the full identity, the write's and the activation's lines), timings aside.
  std::string plain = Sim({"--fast"});
  auto timeless = [](const std::string& text) {
    return std::regex_replace(text, std::regex("[0-9]+\\.[0-9] s"), "T s");
  };
  std::vector<std::vector<std::string>> commands = {
      {"identify"}, {"write", Path("in.s19")}, {"activate"}};
  for (const auto& command : commands) {
    std::vector<std::string> args = command;
    args.insert(args.end(), {"--port", plain});
    RunResult once = Tarnctl(args);
    args.insert(args.end(), {"--retries", "1", "--log", Path("one.jsonl")});
    r = Tarnctl(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(timeless(r.out), timeless(once.out)) << command[0];
  }
  EXPECT_NE(r.out.find("activate: waiting"), std::string::npos) << r.out;
}

// At a 60-column terminal (a tmux pane on a private server), with port
// names longer than the line.
TEST_F(FleetCli, LiveLinesFitSixtyColumnsShowTheBlockAndKeepTheInterruptMessage) {
  if (tarnctl_test::Run({"/bin/sh", "-c", "command -v tmux"}, {}, 10).exitCode != 0)
    GTEST_SKIP() << "tmux is not installed";
  std::vector<unsigned char> data(24, 0x5A);
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0600, data));
  std::string command = std::string(TARNCTL_EXE) + " write " + Path("in.s19") + " --block 8";
  for (const char* serial : {"A1B2C3D4", "E5F6A7B8"}) {
    std::string link =
        Path(std::string("serial-by-id-usb-FTDI_FT232R_USB_UART_") + serial + "-if00-port0");
    Sim({"--fast", "--symlink", link});
    command += " --port \"device = " + link + "\"";
  }
  std::string socket = "tarnctl-fleet-test-" + std::to_string(getpid());
  auto tmux = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/env", "tmux", "-L", socket});
    return tarnctl_test::Run(args, {}, 10);
  };
  std::string line = "COMRT_REGISTRY=" + Path("registry") + " sh -c 'echo $$ > " + Path("pid") +
                     "; exec " + command + "'; echo EXIT=$? > " + Path("exit") + "; sleep 60";
  ASSERT_EQ(tmux({"new-session", "-d", "-x", "60", "-y", "20", line}).exitCode, 0);
  // -J joins what the terminal wrapped: a live line that wrapped shows long.
  auto screen = [&] { return tmux({"capture-pane", "-p", "-J"}).out; };
  std::string during;
  for (int i = 0; i < 150 && during.find("block 2/3") == std::string::npos; ++i) {
    usleep(100 * 1000);
    during = screen();
  }
  std::string text = tarnctl_test::ReadFile(Path("pid"));
  pid_t pid = static_cast<pid_t>(std::atoi(text.c_str()));
  if (pid > 0) kill(pid, SIGINT);
  std::string exit;
  for (int i = 0; i < 200 && exit.empty(); ++i) {
    usleep(100 * 1000);
    exit = tarnctl_test::ReadFile(Path("exit"));
  }
  std::string after = screen();
  tmux({"kill-server"});
  ASSERT_GT(pid, 0);
  EXPECT_NE(during.find("block 2/3"), std::string::npos) << during;
  EXPECT_EQ(Count(during, " write "), 2u) << "one live line per pager, drawn in place\n" << during;
  std::istringstream rows(during);
  for (std::string row; std::getline(rows, row);)
    EXPECT_LT(row.size(), 60u) << "wraps at 60 columns: " << row;
  EXPECT_NE(during.find("...1B2C3D4-if00-port0"), std::string::npos) << during;
  EXPECT_EQ(exit, "EXIT=130\n") << after;
  EXPECT_NE(after.find("tarnctl: interrupted; every pager stops after its current block"),
            std::string::npos)
      << "the message was drawn over\n"
      << after;
}

}  // namespace
