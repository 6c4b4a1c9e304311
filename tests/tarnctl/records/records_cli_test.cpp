// The records a shop relies on, from real jobs against simulated pagers in
// real time: the job log is opened before any pager is woken and gets each
// record as its pager finishes; a single job stopped by SIGTERM or Ctrl-C
// still writes its record; `--json` output is JSON alone; partial_write and
// written_bytes tell the truth; a failed dry run is a failure and a plan
// names its ranges; names that are not UTF-8 survive; the image file is
// opened once; `read -o` over an existing file. Every JSON document is
// parsed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "components.h"
#include "image.h"
#include "pager_job.h"
#include "process.h"
#include "sha256.h"
#include "sim_fixture.h"

namespace {

using nlohmann::json;
using tarnctl_test::RunResult;

using tarnctl_test::S19File;

// Every non-empty line of the text as a JSON document (a line that does not
// parse fails the test).
std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> docs;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    try {
      docs.push_back(json::parse(line));
    } catch (const json::exception& e) {
      ADD_FAILURE() << "not JSON: " << line << "\n" << e.what();
    }
  }
  return docs;
}

class RecordsCli : public tarnctl_test::SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    for (const auto& [k, v] : Env()) setenv(k.c_str(), v.c_str(), 1);  // in-process jobs
  }
  // Starts tarnctl in its own session with standard output and error to
  // files; the caller signals and reaps it.
  pid_t Spawn(std::vector<std::string> args) {
    return SpawnTarnctl(std::move(args), Path("out.txt"), Path("err.txt"), true);
  }
  // Waits up to `seconds` for `file` to hold `text`.
  bool WaitFor(const std::string& file, const std::string& text, double seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
      if (tarnctl_test::ReadFile(file).find(text) != std::string::npos) return true;
      usleep(50 * 1000);
    }
    return false;
  }
};

TEST_F(RecordsCli, TheLogIsOpenedBeforeAnyPagerIsWoken) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0500, {1, 2, 3, 4}));
  std::string a = Sim({"--fast", "--dump", Path("a.bin")}), b = Sim({"--fast"});
  for (const std::string& log : {Path("missing/x.log"), dir_}) {
    RunResult r = Tarnctl({"write", Path("in.s19"), "--port", a, "--port", b, "--log", log});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.err.find("cannot open the job log " + log), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << "no pager was started";
    r = Tarnctl({"verify", Path("in.s19"), "--port", a, "--log", log});
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_LT(r.seconds, 2.0) << "the pager was woken first";
  }
  sims_.clear();  // writes the dump
  std::string memory = tarnctl_test::ReadFile(Path("a.bin"));
  ASSERT_EQ(memory.size(), 0x10000u);
  EXPECT_EQ(memory[0x500], '\xFF') << "the pager was written";
}

TEST_F(RecordsCli, EachRecordIsWrittenWhenItsPagerFinishes) {
  // 1 KiB in one block: the pager on an emulated 1200-baud line takes
  // about 17 s longer to take it and give it back.
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x1000, std::vector<unsigned char>(1024, 0x3C)));
  std::string fast = Sim({"--fast"}), slow = Sim({"--fast", "--baud", "1200"});
  pid_t pid =
      Spawn({"write", Path("in.s19"), "--port", slow, "--port", fast, "--log", Path("log.jsonl")});
  ASSERT_GT(pid, 0);
  bool one = WaitFor(Path("log.jsonl"), "\n", 60);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  ASSERT_TRUE(one) << tarnctl_test::ReadFile(Path("out.txt"));
  std::vector<json> log = JsonLines(tarnctl_test::ReadFile(Path("log.jsonl")));
  ASSERT_EQ(log.size(), 1u) << "only the pager that finished";
  EXPECT_EQ(log[0].at("result"), "ok");
  EXPECT_EQ("device = " + log[0].at("port").get<std::string>() + " baud = 9600", fast);
  EXPECT_EQ(log[0].at("written_bytes"), 1024);
}

TEST_F(RecordsCli, ASinglePagerJobStoppedBySigtermOrCtrlCWritesItsRecord) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0600, std::vector<unsigned char>(24, 0x5A)));
  std::string port = Sim({"--fast"});
  pid_t pid =
      Spawn({"write", Path("in.s19"), "--block", "8", "--port", port, "--log", Path("term.jsonl")});
  ASSERT_TRUE(WaitFor(Path("out.txt"), "write block 1/3", 30))
      << tarnctl_test::ReadFile(Path("out.txt"));
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "ends by the signal";
  std::vector<json> log = JsonLines(tarnctl_test::ReadFile(Path("term.jsonl")));
  ASSERT_EQ(log.size(), 1u) << tarnctl_test::ReadFile(Path("err.txt"));
  EXPECT_EQ(log[0].at("result"), "interrupted");
  EXPECT_EQ(log[0].at("exit_code"), 130);
  EXPECT_EQ(log[0].at("partial_write"), true);
  EXPECT_GE(log[0].at("written_bytes").get<int>(), 8);
  EXPECT_LT(log[0].at("written_bytes").get<int>(), 24);

  // Ctrl-C twice in one long block: stopped at once, and still recorded.
  tarnctl_test::WriteFile(Path("big.s19"), S19File(0x1000, std::vector<unsigned char>(2048, 7)));
  std::string slow = Sim({});
  pid = Spawn({"write", Path("big.s19"), "--port", slow, "--log", Path("int.jsonl")});
  ASSERT_TRUE(WaitFor(Path("out.txt"), "write: 1 block(s)", 30));
  usleep(300 * 1000);
  kill(pid, SIGINT);
  usleep(300 * 1000);
  kill(pid, SIGINT);
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(waited, 3.0) << "the second Ctrl-C did not wait for the block";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  log = JsonLines(tarnctl_test::ReadFile(Path("int.jsonl")));
  ASSERT_EQ(log.size(), 1u) << tarnctl_test::ReadFile(Path("err.txt"));
  EXPECT_EQ(log[0].at("result"), "interrupted");
  EXPECT_EQ(log[0].at("partial_write"), true) << "stopped inside the write";
  EXPECT_NE(log[0].at("error_text").get<std::string>().find("stopped at once during write"),
            std::string::npos)
      << log[0];
}

TEST_F(RecordsCli, JsonWithSeveralPagersIsJsonAloneInAPipeAndAtATerminal) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0500, {9, 8, 7}));
  std::string a = Sim({"--fast"}), b = Sim({"--fast"});
  RunResult r = Tarnctl({"write", Path("in.s19"), "--port", a, "--port", b, "--json"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<json> docs = JsonLines(r.out);
  ASSERT_EQ(docs.size(), 2u) << r.out;
  for (const json& d : docs) EXPECT_EQ(d.at("result"), "ok") << d;

  // At a terminal (script gives tarnctl one): no live display either.
  std::string command = std::string(TARNCTL_EXE) + " verify " + Path("in.s19") + " --port '" + a +
                        "' --port '" + b + "' --json";
  r = tarnctl_test::Run({"/usr/bin/script", "-qec", command, "/dev/null"}, Env(), 60);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  docs = JsonLines(r.out);
  ASSERT_EQ(docs.size(), 2u) << r.out;
  for (const json& d : docs) EXPECT_EQ(d.at("command"), "verify") << d;
}

TEST_F(RecordsCli, PartialWriteIsTrueOnlyWhenDataReachedThePager) {
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0500, {1, 2, 3, 4, 5, 6, 7, 8}));
  tarnctl_test::WriteFile(Path("pw"), "wrong\n");
  chmod(Path("pw").c_str(), 0600);
  std::string asks = Sim({"--fast", "--status", "Y", "--password", "right"});
  std::string disabled = Sim({"--fast", "--status", "D"});
  for (const std::string& port : {asks, disabled}) {
    RunResult r =
        Tarnctl({"write", Path("in.s19"), "--json", "--port", port, "--password-file", Path("pw")});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    std::vector<json> docs = JsonLines(r.out);
    ASSERT_EQ(docs.size(), 1u) << r.out;
    EXPECT_EQ(docs[0].at("partial_write"), false) << "nothing was sent: " << docs[0];
    EXPECT_EQ(docs[0].at("written_bytes"), 0);
  }

  // Stopped during the read-back of a complete write (in this process: the
  // stop comes with the first block read back).
  std::string good = Sim({"--fast"});
  tarnctl::Runtime runtime;
  tarnctl::MemoryImage image = tarnctl::LoadImage(Path("in.s19"));
  tarnctl::JobSpec spec;
  spec.kind = tarnctl::JobKind::kWrite;
  spec.image = &image;
  spec.block = 4;
  std::atomic<bool> stop{false};
  tarnctl::SessionOptions options;
  options.settings = good;
  options.output.quiet = true;
  options.indicator = false;
  options.stop = &stop;
  options.blockDone = [&stop](const char* verb, const tarnctl::Block&) {
    if (std::string(verb) == "verify") stop = true;
  };
  tarnctl::JobRecord r = tarnctl::RunPagerJob(spec, options);
  EXPECT_EQ(r.result, "interrupted") << r.errorText;
  EXPECT_FALSE(r.partialWrite) << "the write was complete";
  EXPECT_EQ(r.writtenBytes, 8u);
  EXPECT_NE(r.errorText.find("interrupted during verify"), std::string::npos) << r.errorText;
}

TEST_F(RecordsCli, AFailedDryRunFailsAndPlansNameTheirRanges) {
  std::vector<unsigned char> file(64), held(64);
  for (int i = 0; i < 64; ++i) file[i] = held[i] = static_cast<unsigned char>(i * 5);
  held[5] ^= 0xFF;
  held[50] ^= 0xFF;
  tarnctl_test::WriteFile(Path("in.s19"), S19File(0x0400, file));
  tarnctl_test::WriteFile(Path("held.s19"), S19File(0x0400, held));
  std::string disabled = Sim({"--fast", "--status", "D"});
  RunResult r =
      Tarnctl({"write", Path("in.s19"), "--changed-only", "--dry-run", "--port", disabled});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(r.out.find("plan:"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("dry run"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("tarnctl: "), std::string::npos) << r.err;

  std::string a = Sim({"--fast", "--image", Path("held.s19")});
  std::string b = Sim({"--fast", "--image", Path("held.s19")});
  r = Tarnctl({"write", Path("in.s19"), "--changed-only", "--dry-run", "--port", a});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("plan: writes 0x0405-0x0432\n"), std::string::npos) << r.out;
  r = Tarnctl({"write", Path("in.s19"), "--changed-only", "--dry-run", "--port", a, "--port", b});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const auto& sim : sims_) {
    // The whole device name: /dev/pts/8 is not /dev/pts/81.
    const std::string named = "= " + sim->Device() + " ";
    if (a.find(named) == std::string::npos && b.find(named) == std::string::npos) continue;
    EXPECT_NE(r.out.find("[" + sim->Device() + "] plan: writes 0x0405-0x0432\n"), std::string::npos)
        << r.out;
  }
  r = Tarnctl(
      {"write", Path("in.s19"), "--changed-only", "--dry-run", "--json", "--port", a, "--port", b});
  std::vector<json> docs = JsonLines(r.out);
  ASSERT_EQ(docs.size(), 2u) << r.out;
  for (const json& d : docs) {
    ASSERT_EQ(d.at("plan").size(), 1u) << d;
    EXPECT_EQ(d.at("plan")[0].at("address"), 0x0405);
    EXPECT_EQ(d.at("plan")[0].at("length"), 46);
  }
}

TEST_F(RecordsCli, NamesThatAreNotUtf8ComeBackFromTheLogExactly) {
  std::string file = Path(
                  "im\xFF"
                  "age%41.s19"),
              link = Path("pager\xFE");
  tarnctl_test::WriteFile(file, S19File(0x0500, {1, 2}));
  Sim({"--fast", "--symlink", link});
  RunResult r =
      Tarnctl({"verify", file, "--json", "--port", "device = " + link, "--log", Path("log.jsonl")});
  std::vector<json> docs = JsonLines(r.out + tarnctl_test::ReadFile(Path("log.jsonl")));
  ASSERT_EQ(docs.size(), 2u) << r.out << r.err;
  for (const json& d : docs) {
    EXPECT_EQ(d.at("file"), Path("im%FFage%2541.s19")) << d;
    EXPECT_EQ(d.at("port"), Path("pager%FE")) << d;
  }
}

// The image is opened once: its checks, the load and the digest in the
// record all come from one reading.
TEST_F(RecordsCli, TheImageFileIsReadOnce) {
  std::string bytes = S19File(0x0500, {1, 2, 3});
  tarnctl_test::WriteFile(Path("in.s19"), bytes);
  std::string port = Sim({"--fast", "--image", Path("in.s19")});
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  // Closes are watched too: identical events in a row would be merged.
  ASSERT_GE(inotify_add_watch(watch, Path("in.s19").c_str(), IN_OPEN | IN_CLOSE), 0);
  RunResult r = Tarnctl({"verify", Path("in.s19"), "--json", "--port", port});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  int opens = 0;
  alignas(inotify_event) char events[4096];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;)
    for (char* p = events; p < events + n;
         p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
      opens += (reinterpret_cast<inotify_event*>(p)->mask & IN_OPEN) != 0;
  close(watch);
  EXPECT_EQ(opens, 1);
  std::vector<json> docs = JsonLines(r.out);
  ASSERT_EQ(docs.size(), 1u);
  EXPECT_EQ(docs[0].at("sha256"), tarnctl::Sha256Hex(bytes.data(), bytes.size()));
}

// `read -o` over a file that exists: a replaced file keeps its mode, and
// nothing of a longer old content is left behind, replaced or in place.
TEST_F(RecordsCli, ReadOverAnExistingFileKeepsItsModeAndLeavesNothingOld) {
  std::string port = Sim({"--fast"});
  std::string old(20000, 'X');
  tarnctl_test::WriteFile(Path("kept.s19"), old);
  ASSERT_EQ(chmod(Path("kept.s19").c_str(), 0604), 0);
  tarnctl_test::WriteFile(Path("linked.s19"), old);
  ASSERT_EQ(link(Path("linked.s19").c_str(), Path("other-name.s19").c_str()), 0);
  for (const char* name : {"kept.s19", "linked.s19"}) {
    RunResult r = Tarnctl({"read", "0x0500", "16", "-o", Path(name), "--port", port});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    std::string text = tarnctl_test::ReadFile(Path(name));
    EXPECT_NE(text.find("\nS9030000FC"), std::string::npos) << name << "\n" << text;
    EXPECT_EQ(text.find('X'), std::string::npos) << name << ": old content left";
    EXPECT_LT(text.size(), 200u) << name;
  }
  struct stat st {};
  ASSERT_EQ(stat(Path("kept.s19").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(tarnctl_test::ReadFile(Path("other-name.s19")),
            tarnctl_test::ReadFile(Path("linked.s19")))
      << "the hard link was broken";
}

}  // namespace
