// The job record's pieces that need no pager: the JSON document (read back
// with the JSON library, never searched as text), the reversible UTF-8
// form of names, the job log's opening and whole-line appends, the sums
// over retries, the changed-only planner at its limits (the block size, the
// top of memory) and the image record checks with every line-end variant.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <thread>

#include "errors.h"
#include "file_checks.h"
#include "fleet.h"
#include "job_log.h"
#include "write_plan.h"

namespace tarnctl {
namespace {

using nlohmann::json;

// The reverse of RecordText: "%XX" is the byte XX, everything else itself.
std::string FromRecordText(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

TEST(JobRecordJson, EveryFieldParsesWithItsTypeAndTheRangesOfThePlan) {
  JobRecord r;
  r.port = "/dev/tty\"A\\";
  r.errorText = "line\nbreak\x01";
  r.writtenBytes = 4096;
  r.estimateS = 23.2004;
  r.planned = true;
  r.plan = {{0x0405, 46}, {0xFFF0, 16}};
  std::string text = ToJson(r);
  EXPECT_EQ(text.find('\n'), std::string::npos) << "one line";
  json j = json::parse(text);
  EXPECT_EQ(j.at("port"), "/dev/tty\"A\\");
  EXPECT_EQ(j.at("error_text"), "line\nbreak\x01");
  EXPECT_EQ(j.at("written_bytes"), 4096);
  EXPECT_DOUBLE_EQ(j.at("estimate_s").get<double>(), 23.2);
  EXPECT_EQ(j.at("result"), "ok");
  EXPECT_EQ(j.at("partial_write"), false);
  ASSERT_EQ(j.at("plan").size(), 2u);
  EXPECT_EQ(j.at("plan")[1].at("address"), 0xFFF0);
  EXPECT_EQ(j.at("plan")[1].at("length"), 16);
  const char* keys[] = {"time",          "command",        "port",          "pager_type",
                        "info_id",       "status",         "file",          "sha256",
                        "changed_only",  "dry_run",        "read_bytes",    "read_blocks",
                        "written_bytes", "written_blocks", "skipped_bytes", "planned_blocks",
                        "estimate_s",    "partial_write",  "result",        "exit_code",
                        "error_code",    "error_text",     "attempts",      "read_s",
                        "write_s",       "verify_s",       "activate_s",    "total_s"};
  for (const char* key : keys) EXPECT_TRUE(j.contains(key)) << key;
  EXPECT_EQ(RangesText(r.plan), "0x0405-0x0432, 0xFFF0-0xFFFF");
  EXPECT_EQ(RangesText({}), "none");
  r.planned = false;
  EXPECT_FALSE(json::parse(ToJson(r)).contains("plan")) << "no plan was made";
}

TEST(JobRecordJson, NamesBeyondAsciiStayValidUtf8AndComeBackExactly) {
  // Valid UTF-8 (two, three and four bytes) is kept as it is.
  EXPECT_EQ(RecordText("Pr\xC3\xBC"
                       "fstand \xE2\x82\xAC \xF0\x9F\x93\x9F"),
            "Pr\xC3\xBC"
            "fstand \xE2\x82\xAC \xF0\x9F\x93\x9F");
  EXPECT_EQ(RecordText("a\xFF"), "a%FF");
  EXPECT_EQ(RecordText("50%.s19"), "50%.s19");
  EXPECT_EQ(RecordText("%FF"), "%25FF") << "a name that looks escaped";
  // Overlong forms, surrogates, beyond U+10FFFF and cut sequences are not UTF-8.
  EXPECT_EQ(RecordText("\xC0\x80"), "%C0%80");
  EXPECT_EQ(RecordText("\xED\xA0\x80"), "%ED%A0%80");
  EXPECT_EQ(RecordText("\xF4\x90\x80\x80"), "%F4%90%80%80");
  EXPECT_EQ(RecordText("\xE2\x82"), "%E2%82");
  EXPECT_EQ(RecordText("\xE0\x9F\xBF"), "%E0%9F%BF");
  EXPECT_EQ(RecordText("\xF0\x8F\xBF\xBF"), "%F0%8F%BF%BF");

  // Random names from an alphabet rich in the troublesome bytes: every
  // record parses, and every name comes back exactly (so two different
  // names never come out the same).
  std::string alphabet = "%4aF/\xFF\xC3\xA9\xE2\x82\xAC\xF0\x9F\xED";
  alphabet += '\0';
  std::mt19937 random(23);
  std::set<std::string> seen, names;
  for (int i = 0; i < 4000; ++i) {
    std::string name;
    for (int n = static_cast<int>(random() % 7); n > 0; --n)
      name += alphabet[random() % alphabet.size()];
    names.insert(name);
    JobRecord r;
    r.file = name;
    r.port = name;
    json j = json::parse(ToJson(r));  // throws on text that is not UTF-8
    ASSERT_EQ(FromRecordText(j.at("file").get<std::string>()), name) << ToJson(r);
    seen.insert(j.at("port").get<std::string>());
  }
  EXPECT_EQ(seen.size(), names.size()) << "two names came out the same";
}

class JobLogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/joblogXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(JobLogFile, IsCheckedWhenOpenedAndAppendsWholeLinesFromManyThreads) {
  for (const std::string& bad : {dir_ + "/missing/x.log", dir_}) {
    try {
      JobLog log(bad);
      ADD_FAILURE() << "opened " << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.ExitCodeValue(), kExitFile);
      EXPECT_NE(std::string(e.what()).find("cannot open the job log " + bad), std::string::npos)
          << e.what();
    }
  }
  std::string file = dir_ + "/jobs.log";
  {
    std::FILE* f = std::fopen(file.c_str(), "w");
    std::fputs("{\"earlier\":1}\n", f);
    std::fclose(f);
  }
  {
    JobLog log(file);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&log, t] {
        for (int i = 0; i < 50; ++i) {
          JobRecord r;
          r.port = "/dev/ttyUSB" + std::to_string(t);
          r.errorText = std::string(static_cast<size_t>(1000 + i * 37), 'x');
          std::string why;
          EXPECT_TRUE(log.Append(r, &why)) << why;
        }
      });
    for (auto& t : threads) t.join();
  }
  std::ifstream in(file);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "{\"earlier\":1}") << "the log is appended to, never rewritten";
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    json j = json::parse(line);  // a torn line does not parse
    EXPECT_EQ(j.at("port").get<std::string>().rfind("/dev/ttyUSB", 0), 0u);
  }
  EXPECT_EQ(lines, 400);
}

TEST(JobRetries, CountEveryAttemptsBytes) {
  std::atomic<bool> stop{false};
  int calls = 0;
  RetryPause instant;
  instant.sleep = [](double) {};
  JobRecord r = RunWithRetries(
      2, stop,
      [&] {
        JobRecord a;
        ++calls;
        a.result = calls < 3 ? "failed" : "ok";
        a.exitCode = calls < 3 ? kExitPager : kExitOk;  // a failure worth another attempt
        a.writtenBytes = calls == 1 ? 8 : calls == 2 ? 16 : 24;
        a.writtenBlocks = static_cast<uint32_t>(calls);
        a.readBytes = 100;
        a.readBlocks = 1;
        return a;
      },
      instant);
  EXPECT_EQ(r.attempts, 3);
  EXPECT_EQ(r.writtenBytes, 48u);
  EXPECT_EQ(r.writtenBlocks, 6u);
  EXPECT_EQ(r.readBytes, 300u);
  EXPECT_EQ(r.readBlocks, 3u);
}

// The planner at its limits: the block size is a hard cap on every block
// (merged or split), and the top of memory is written through 0xFFFF and
// never past it.
TEST(ChangedOnlyPlan, KeepsToTheBlockSizeAndTheTopOfMemory) {
  LineCosts costs{9600, false, false};
  std::vector<BYTE> file(0x10000, 0xAA), pager(0x10000, 0xAA);
  std::vector<bool> covered(0x10000, false);
  for (uint32_t a = 0xFF00; a < 0x10000; ++a) covered[a] = true;
  pager[0xFF00] = pager[0xFF0F] = pager[0xFFFF] = 0;
  // Runs at 0xFF00 and 0xFF0F merge into exactly one 16-byte block.
  WritePlan plan = PlanWrites(file, pager, covered, 16, true, costs);
  ASSERT_EQ(plan.writes.size(), 2u);
  EXPECT_EQ(plan.writes[0].address, 0xFF00u);
  EXPECT_EQ(plan.writes[0].length, 16u) << "a merged block of exactly the block size";
  EXPECT_EQ(plan.writes[1].address, 0xFFFFu);
  EXPECT_EQ(plan.writes[1].length, 1u) << "the last byte of memory";
  // One byte less of block size: no merge.
  plan = PlanWrites(file, pager, covered, 15, true, costs);
  ASSERT_EQ(plan.writes.size(), 3u);
  for (const Block& b : plan.writes) EXPECT_LE(b.length, 15u);
  EXPECT_EQ(plan.skippedBytes, 256u - 3u);

  // Everything differs (64 KiB in blocks of at most 65535): see
  // WritePlan.KeepsToTheBlockSizeAndReachesTheTopOfMemory.
  std::vector<bool> all(0x10000, true);
  std::vector<BYTE> blank(0x10000, 0);
  // Two runs around one equal byte would be cheaper as one block, but not
  // past 65535 bytes, whatever block size is asked for.
  std::vector<BYTE> gap = blank;
  gap[32768] = 0xAA;
  for (uint32_t maxBlock : {65535u, 65536u, 1u << 20}) {
    plan = PlanWrites(file, gap, all, maxBlock, false, costs);
    ASSERT_EQ(plan.writes.size(), 2u) << maxBlock;
    EXPECT_EQ(plan.writes[0].length, 32768u) << maxBlock;
    EXPECT_EQ(plan.writes[1].address, 32769u) << maxBlock;
    EXPECT_EQ(plan.skippedBytes, 1u) << maxBlock;
  }
  plan = PlanWrites(file, blank, all, 4096, false, costs);
  ASSERT_EQ(plan.writes.size(), 16u);
  EXPECT_EQ(plan.writes.back().address + plan.writes.back().length, 0x10000u);
}

// What the image checks refuse must be refused whatever ends the lines:
// LF, CR LF, CR CR LF, and trailing characters the S19 reader drops
// (form feed, vertical tab, a full stop) all reach the rules.
TEST(ImageRecordChecks, HoldForEveryLineEndVariant) {
  const std::string overlap[] = {"S107040001020304EA", "S107040001020305E9", "S9030000FC"};
  const std::string past[] = {"S105FFFF0102F9", "S9030000FC"};
  const std::string after[] = {"S9030000FC", "S107040001020304EA"};
  for (const char* end : {"\n", "\r\n", "\r\r\n", " \t\r\n", "\f\n", "\v\n", ".\n"}) {
    SCOPED_TRACE(testing::PrintToString(end));
    auto text = [&](const auto& lines) {
      std::string t = "comment\n";
      for (const std::string& l : lines) t += l + std::string(end);
      return t;
    };
    try {
      CheckImageRecords(text(overlap), "f.s19");
      ADD_FAILURE() << "overlap accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("f.s19 line 3: the record gives 0x0403"),
                std::string::npos)
          << e.what();
    }
    EXPECT_THROW(CheckImageRecords(text(past), "f.s19"), Error) << "runs past 0xFFFF";
    EXPECT_THROW(CheckImageRecords(text(after), "f.s19"), Error) << "data after S9";
    EXPECT_NO_THROW(
        CheckImageRecords(text(std::vector<std::string>{overlap[0], overlap[2]}), "f.s19"));
  }
}

}  // namespace
}  // namespace tarnctl
