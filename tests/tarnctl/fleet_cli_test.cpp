// tarnctl's job path against simulated pagers in real time: writing only
// what changed, a fleet in which one pager drops off and another needs a
// retry, and Ctrl-C in the middle of a fleet write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "process.h"
#include "sim.h"

namespace {

using tarnctl_test::RunResult;

std::string S19File(unsigned address, const std::vector<unsigned char>& data) {
  std::string text = "S00600004844521B\n";
  char t[8];
  for (size_t i = 0; i < data.size(); i += 16) {
    size_t n = std::min<size_t>(16, data.size() - i);
    unsigned a = address + static_cast<unsigned>(i), sum = static_cast<unsigned>(n) + 3;
    std::snprintf(t, sizeof t, "%02X", static_cast<unsigned>(n) + 3);
    std::string line = std::string("S1") + t;
    std::snprintf(t, sizeof t, "%04X", a);
    line += t;
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

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class FleetCli : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TARNCTL_PAGERSIM", PAGERSIM_EXE, 1);
    dir_ = tarnctl_test::MakeTempDir();
    ASSERT_EQ(Tarnctl({"register"}).exitCode, 0);
  }
  void TearDown() override {
    sims_.clear();
    tarnctl_test::RemoveTree(dir_);
  }
  // Starts a simulated pager; returns its settings string.
  std::string Sim(std::vector<std::string> args) {
    sims_.push_back(tarnctl::SimulatedPager::Start(args));
    return "device = " + sims_.back()->Device() + " baud = 9600";
  }
  std::vector<std::pair<std::string, std::string>> Env() const {
    return {{"COMRT_REGISTRY", dir_ + "/registry"}, {"XDG_CONFIG_HOME", dir_ + "/config"}};
  }
  RunResult Tarnctl(std::vector<std::string> args, double timeout = 60) {
    args.insert(args.begin(), TARNCTL_EXE);
    return tarnctl_test::Run(args, Env(), timeout);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::vector<std::unique_ptr<tarnctl::SimulatedPager>> sims_;
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
  std::vector<std::string> args = {TARNCTL_EXE, "write", Path("in.s19"), "--block", "8",
                                   "--port",    a,       "--port",       b};
  std::string out = Path("out.txt");
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    for (const auto& [k, v] : Env()) setenv(k.c_str(), v.c_str(), 1);
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<char*> argv;
    for (auto& s : args) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  // Once both pagers are writing (the plain lines say so), the first
  // block's 3 s settle is under way.
  for (int i = 0; i < 300 && Count(tarnctl_test::ReadFile(out), "] write") < 2; ++i)
    usleep(50 * 1000);
  usleep(500 * 1000);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  std::string text = tarnctl_test::ReadFile(out);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by the signal\n" << text;
  EXPECT_EQ(WEXITSTATUS(status), 130) << text;
  EXPECT_EQ(Count(text, "interrupted*"), 2u) << text;
  EXPECT_NE(text.find("partial write"), std::string::npos) << text;
  EXPECT_NE(text.find("0 of 2 pager(s) ok"), std::string::npos) << text;
}

}  // namespace
