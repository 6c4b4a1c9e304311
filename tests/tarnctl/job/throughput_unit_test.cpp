// The pieces behind writing only what changed and serving several pagers:
// the time model and the write planner, the SHA-256 of the job log, the
// ports file, duplicate devices, retries and the fleet's exit code.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>

#include "errors.h"
#include "fleet.h"
#include "job_log.h"
#include "sha256.h"
#include "write_plan.h"

namespace tarnctl {
namespace {

TEST(WriteCosts, FollowTheProtocolsPausesAndLineTime) {
  LineCosts plain{9600, false, false};
  // 4 KiB: 50 pauses of 400 ms, the 3 s settle, 4097 data bytes and 50
  // protocol bytes at 1.0417 ms, the wake-up and the two 5 ms pauses.
  EXPECT_NEAR(WriteBlockMs(4096, plain), 20000 + 3000 + 4147 * 10000.0 / 9600 + 210, 1.0);
  // A block under 11 bytes has no pacing at all.
  EXPECT_NEAR(WriteBlockMs(10, plain), 3000 + 61 * 10000.0 / 9600 + 210, 1.0);
  // 100 bytes: t = 9 ms, 450 ms of pacing.
  EXPECT_NEAR(WriteBlockMs(100, plain) - WriteBlockMs(10, plain), 450 + 90 * 10000.0 / 9600, 1.0);
  // Progress: 200 ms after data bytes 0, 512, 1024 (written: up to n; read:
  // below n); the password's 10 bytes when the pager asks for it.
  LineCosts progress{9600, true, false};
  EXPECT_NEAR(WriteBlockMs(1024, progress) - WriteBlockMs(1024, plain), 600, 1e-6);
  EXPECT_NEAR(ReadBlockMs(1024, progress) - ReadBlockMs(1024, plain), 400, 1e-6);
  EXPECT_NEAR(ReadBlockMs(1, progress) - ReadBlockMs(1, plain), 200, 1e-6);
  LineCosts password{9600, false, true};
  EXPECT_NEAR(ReadBlockMs(4, password) - ReadBlockMs(4, plain), 10 * 10000.0 / 9600, 1e-6);
  // Reading is line time: four times the rate, a quarter of the time.
  LineCosts fast{38400, false, false};
  EXPECT_NEAR(ReadBlockMs(4096, fast) - 210, (ReadBlockMs(4096, plain) - 210) / 4, 1e-6);
}

struct Memory {
  std::vector<BYTE> file = std::vector<BYTE>(0x10000, 0);
  std::vector<BYTE> pager = std::vector<BYTE>(0x10000, 0);
  std::vector<bool> covered = std::vector<bool>(0x10000, false);
  void Cover(uint32_t from, uint32_t n) {
    for (uint32_t a = from; a < from + n; ++a) covered[a] = true;
  }
  void Change(uint32_t from, uint32_t n) {
    for (uint32_t a = from; a < from + n; ++a) file[a] = static_cast<BYTE>(pager[a] + 1);
  }
};

// The planned writes in order, each as hex address + decimal length: "1000+108 1800+4".
std::string Blocks(const WritePlan& plan) {
  std::string text;
  char item[32];
  for (const auto& b : plan.writes) {
    std::snprintf(item, sizeof item, "%s%x+%u", text.empty() ? "" : " ",
                  static_cast<unsigned>(b.address), static_cast<unsigned>(b.length));
    text += item;
  }
  return text;
}

TEST(WritePlan, MergesRunsOnlyWhereTheGapCostsLessThanABlock) {
  LineCosts costs;
  Memory m;
  m.Cover(0x1000, 0x1000);
  m.Change(0x1000, 4);
  m.Change(0x1000 + 4 + 100, 4);  // a gap of 100 bytes: about 0.8 s, far below a block
  m.Change(0x1800, 4);            // a gap of ~2 KiB: far above
  WritePlan plan = PlanWrites(m.file, m.pager, m.covered, 65535, true, costs);
  EXPECT_EQ(Blocks(plan), "1000+108 1800+4");
  EXPECT_EQ(plan.differingBytes, 12u);
  EXPECT_EQ(plan.writeBytes, 112u);
  EXPECT_EQ(plan.skippedBytes, 0x1000u - 112u);
  double expected = WriteBlockMs(108, costs) + ReadBlockMs(108, costs) + WriteBlockMs(4, costs) +
                    ReadBlockMs(4, costs);
  EXPECT_NEAR(plan.estimateMs, expected, 1e-6);

  // The break-even gap: bridged exactly while the merged block is no dearer.
  for (uint32_t gap = 1; gap < 2000; gap += 37) {
    Memory g;
    g.Cover(0x2000, 2100);
    g.Change(0x2000, 2);
    g.Change(0x2000 + 2 + gap, 2);
    bool cheaper = WriteBlockMs(4 + gap, costs) + ReadBlockMs(4 + gap, costs) <=
                   2 * (WriteBlockMs(2, costs) + ReadBlockMs(2, costs));
    size_t blocks = PlanWrites(g.file, g.pager, g.covered, 65535, true, costs).writes.size();
    EXPECT_EQ(blocks, cheaper ? 1u : 2u) << "gap " << gap;
  }
}

TEST(WritePlan, NeverWritesOutsideTheFileAndKeepsBlocksWithinTheLimit) {
  LineCosts costs;
  Memory m;
  m.Cover(0x100, 10);
  m.Cover(0x10B, 10);  // one address (0x10A) between the ranges is not the file's
  m.Change(0x109, 1);
  m.Change(0x10B, 1);
  WritePlan plan = PlanWrites(m.file, m.pager, m.covered, 65535, true, costs);
  ASSERT_EQ(plan.writes.size(), 2u);
  EXPECT_EQ(plan.writes[0].address + plan.writes[0].length, 0x10Au);

  // Nothing differs: nothing to write, every byte skipped.
  Memory same;
  same.Cover(0, 300);
  WritePlan none = PlanWrites(same.file, same.pager, same.covered, 65535, true, costs);
  EXPECT_TRUE(none.writes.empty());
  EXPECT_EQ(none.skippedBytes, 300u);
  EXPECT_EQ(none.estimateMs, 0);

  // Random images: every differing byte is written, every written byte is
  // covered, blocks respect the limit and never overlap.
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    Memory r;
    r.Cover(0x4000, 3000);
    r.Cover(0x5000, 500);
    for (int i = 0; i < 40; ++i) r.Change(0x4000 + random() % 3500, 1 + random() % 30);
    uint32_t limit = 1 + random() % 400;
    WritePlan p = PlanWrites(r.file, r.pager, r.covered, limit, round % 2 == 0, costs);
    std::vector<int> written(0x10000, 0);
    for (const Block& b : p.writes) {
      EXPECT_LE(b.length, limit);
      for (uint32_t a = b.address; a < b.address + b.length; ++a) ++written[a];
    }
    for (uint32_t a = 0; a < 0x10000; ++a) {
      ASSERT_LE(written[a], 1) << a;
      if (written[a]) {
        ASSERT_TRUE(r.covered[a]) << a;
      }
      if (r.covered[a] && r.file[a] != r.pager[a]) {
        ASSERT_EQ(written[a], 1) << a;
      }
    }
  }
}

TEST(WritePlan, KeepsToTheBlockSizeAndReachesTheTopOfMemory) {
  LineCosts costs;
  // The whole 64 KiB differs: a block of 65535 bytes and the last byte,
  // whatever out-of-range block size is asked for.
  Memory all;
  all.Cover(0, 0x10000);
  all.Change(0, 0x10000);
  for (uint32_t limit : {0u, 65535u, 65536u, 100000u, 1u << 20}) {
    WritePlan p = PlanWrites(all.file, all.pager, all.covered, limit, false, costs);
    EXPECT_EQ(Blocks(p), "0+65535 ffff+1") << limit;
    EXPECT_EQ(p.writeBytes, 0x10000u);
    EXPECT_EQ(p.skippedBytes, 0u);
  }
  // Only the last address differs.
  Memory top;
  top.Cover(0xFF00, 0x100);
  top.Change(0xFFFF, 1);
  WritePlan p = PlanWrites(top.file, top.pager, top.covered, 65535, true, costs);
  EXPECT_EQ(Blocks(p), "ffff+1");
  EXPECT_EQ(p.skippedBytes, 0xFFu);
  // Two runs are bridged while the merged block fits the block size, and
  // never by one byte more (the gap is cheap either way).
  for (uint32_t gap : {96u, 97u}) {
    Memory m;
    m.Cover(0x2000, 200);
    m.Change(0x2000, 2);
    m.Change(0x2000 + 2 + gap, 2);
    WritePlan q = PlanWrites(m.file, m.pager, m.covered, 100, true, costs);
    EXPECT_EQ(q.writes.size(), gap == 96u ? 1u : 2u) << gap;
    EXPECT_EQ(q.writeBytes, gap == 96u ? 100u : 4u) << gap;
    // No block size (0) means the largest, where both gaps are bridged.
    EXPECT_EQ(PlanWrites(m.file, m.pager, m.covered, 0, true, costs).writes.size(), 1u) << gap;
  }
}

TEST(JobLog, Sha256MatchesTheStandardVectors) {
  EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc", 3),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";  // 56 bytes
  EXPECT_EQ(Sha256Hex(two.data(), two.size()),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  std::string million(1000000, 'a');
  EXPECT_EQ(Sha256Hex(million.data(), million.size()),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  std::string sixtyFour(64, 'x');  // a tail that needs a block of its own
  EXPECT_EQ(Sha256Hex(sixtyFour.data(), 64),
            "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

TEST(JobLog, RecordIsOneLineOfEscapedJson) {
  JobRecord r;
  r.port = "/dev/tty\"A\\";
  r.errorText = "line\nbreak";
  r.writtenBytes = 4096;
  std::string json = ToJson(r);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  nlohmann::json doc = nlohmann::json::parse(json);
  EXPECT_EQ(doc.at("port"), "/dev/tty\"A\\") << json;
  EXPECT_EQ(doc.at("error_text"), "line\nbreak") << json;
  EXPECT_EQ(doc.at("written_bytes"), 4096) << json;
}

TEST(Fleet, PortsFileAndDuplicateDevices) {
  auto ports = ParsePortsFile(
      "# shop bench\n device = /dev/pts/7 baud = 9600 # left\n\n\r\n"
      "device = COM2\n");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0], "device = /dev/pts/7 baud = 9600");
  EXPECT_EQ(ports[1], "device = COM2");

  EXPECT_NO_THROW(CheckDistinctDevices({"device = /dev/ttyS5", "device = /dev/ttyS6"}));
  // COM3 is /dev/ttyS2 without a mapping; a symbolic link is the same device.
  setenv("COMRT_REGISTRY", "/nonexistent-dir/registry", 1);
  try {
    CheckDistinctDevices({"device = /dev/ttyS9", "device = COM3 baud = 4800", "device=/dev/ttyS2"});
    ADD_FAILURE() << "duplicate accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitUsage);
    EXPECT_NE(std::string(e.what()).find("entries 2 and 3"), std::string::npos) << e.what();
  }
  unsetenv("COMRT_REGISTRY");
  char dir[] = "/tmp/fleetXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string link = std::string(dir) + "/pager";
  ASSERT_EQ(symlink("/dev/null", link.c_str()), 0);
  EXPECT_THROW(CheckDistinctDevices({"device = /dev/null", "device = " + link}), Error);
  EXPECT_THROW(CheckDistinctDevices({"device = /dev/null", "baud = 9600"}), Error);
  unlink(link.c_str());
  rmdir(dir);
}

JobRecord Record(const char* result, bool partial = false) {
  JobRecord r;
  r.result = result;
  r.partialWrite = partial;
  if (r.result == "failed") r.exitCode = kExitPager;  // the pager stopped answering
  return r;
}

// Retries without the real pause.
RetryPause Instant() {
  RetryPause pause;
  pause.sleep = [](double) {};
  return pause;
}

TEST(Fleet, RetriesExitCodeAndPartialWrites) {
  std::atomic<bool> stop{false};
  int calls = 0;
  // Runs attempt with the given retries, counting the attempts from zero.
  auto run = [&](int retries, const std::function<JobRecord()>& attempt) {
    calls = 0;
    return RunWithRetries(
        retries, stop,
        [&] {
          ++calls;
          return attempt();
        },
        Instant());
  };
  // Fails twice (the first time half way through a write), then succeeds.
  JobRecord r = run(3, [&] { return calls < 3 ? Record("failed", calls == 1) : Record("ok"); });
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(r.attempts, 3);
  EXPECT_EQ(r.result, "ok");
  EXPECT_FALSE(r.partialWrite);

  // Out of retries: the partial write of an earlier attempt is still told.
  r = run(1, [&] { return Record("failed", calls == 1); });
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(r.result, "failed");
  EXPECT_TRUE(r.partialWrite);

  // Interrupted: no retry.
  r = run(5, [&] {
    stop = true;
    return Record("failed");
  });
  EXPECT_EQ(calls, 1);

  EXPECT_EQ(FleetExitCode({Record("ok"), Record("ok")}), kExitOk);
  EXPECT_EQ(FleetExitCode({Record("ok"), Record("failed")}), kExitSomeFailed);
  EXPECT_EQ(FleetExitCode({Record("failed"), Record("ok")}), kExitSomeFailed);
  EXPECT_EQ(FleetExitCode({Record("failed"), Record("interrupted", true)}), kExitInterrupted);
  std::string table = SummaryTable({Record("ok"), Record("interrupted", true)});
  EXPECT_NE(table.find("1 of 2 pager(s) ok"), std::string::npos) << table;
  EXPECT_NE(table.find("interrupted*"), std::string::npos) << table;
  EXPECT_NE(table.find("partial write"), std::string::npos) << table;
}

}  // namespace
}  // namespace tarnctl
