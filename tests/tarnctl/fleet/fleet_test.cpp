// The fleet's option handling without a pager: port entries checked as a
// single --port is, the ports file's comments and refusals, which failures
// are retried and how long a retry waits (in virtual time), the live line's
// width, and the identify summary.
#include "fleet.h"

#include <gtest/gtest.h>
#include <tarnholm/tarn_errors.h>

#include <atomic>
#include <string>
#include <vector>

#include "errors.h"
#include "job_log.h"
#include "process.h"

namespace tarnctl {
namespace {

// The message of the Error `run` throws, with its exit code checked.
template <typename F>
std::string Refusal(F run, int exitCode = kExitUsage) {
  try {
    run();
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), exitCode) << e.what();
    return e.what();
  }
  ADD_FAILURE() << "accepted";
  return {};
}

TEST(FleetPorts, HashInsideAQuotedValueIsPartOfTheValueAndEntriesKeepTheirLines) {
  std::vector<size_t> lines;
  auto ports = ParsePortsFile(
      "# bench\n"
      "device = \"/dev/serial/by-id/usb-A#1\" baud = 9600 # left\n"
      "\n"
      "device = /dev/ttyS1#spare\n",
      &lines);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0], "device = \"/dev/serial/by-id/usb-A#1\" baud = 9600");
  EXPECT_EQ(ports[1], "device = /dev/ttyS1");
  EXPECT_EQ(lines, (std::vector<size_t>{2, 4}));
}

TEST(FleetPorts, EveryEntryGoesThroughTheSettingsCheckBeforeAnythingStarts) {
  std::string dir = tarnctl_test::MakeTempDir();
  std::string file = dir + "/ports";
  tarnctl_test::WriteFile(file,
                          "device = /dev/ttyS5\n# spare\ndevice = /dev/ttyS6 parity = banana\n");
  FleetOptions fleet;
  fleet.ports = {"device = /dev/ttyS3 baud = 9600", "device = /dev/ttyS4 baud = 12345"};
  std::vector<std::string> where;
  std::vector<std::string> ports = FleetPorts(fleet, &where);
  std::string why = Refusal([&] { CheckPortEntries(ports, where); });
  EXPECT_NE(why.find("--port entry 2"), std::string::npos) << why;
  EXPECT_NE(why.find("12345"), std::string::npos) << why;

  fleet.ports = {"device = /dev/ttyS3"};
  fleet.portsFile = file;
  where.clear();
  ports = FleetPorts(fleet, &where);
  ASSERT_EQ(ports.size(), 3u);
  why = Refusal([&] { CheckPortEntries(ports, where); });
  EXPECT_NE(why.find("line 3 of " + file), std::string::npos) << why;
  EXPECT_NE(why.find("banana"), std::string::npos) << why;
  // Good entries pass; a duplicate is still refused.
  EXPECT_NO_THROW(CheckPortEntries({"device = /dev/ttyS3", "device = /dev/ttyS4 baud = 19200"},
                                   {"--port entry 1", "--port entry 2"}));
  EXPECT_THROW(CheckPortEntries({"device = /dev/ttyS3", "device = /dev/ttyS3 baud = 19200"},
                                {"--port entry 1", "--port entry 2"}),
               Error);
  tarnctl_test::RemoveTree(dir);
}

TEST(FleetPorts, AFolderAByteOrderMarkOrNoEntryIsAClearUsageError) {
  std::string dir = tarnctl_test::MakeTempDir();
  FleetOptions fleet;
  std::vector<std::string> where;
  fleet.portsFile = dir;
  EXPECT_NE(Refusal([&] { FleetPorts(fleet, &where); }).find("folder"), std::string::npos);
  fleet.portsFile = dir + "/bom";
  tarnctl_test::WriteFile(fleet.portsFile,
                          "\xEF\xBB\xBF"
                          "device = /dev/ttyS5\n");
  EXPECT_NE(Refusal([&] { FleetPorts(fleet, &where); }).find("byte-order mark"), std::string::npos);
  fleet.portsFile = dir + "/empty";
  tarnctl_test::WriteFile(fleet.portsFile, "# nothing yet\n\n");
  EXPECT_NE(Refusal([&] { FleetPorts(fleet, &where); }).find("names no port"), std::string::npos);
  fleet.portsFile = dir + "/missing";
  EXPECT_NE(Refusal([&] { FleetPorts(fleet, &where); }).find("no such file"), std::string::npos);
  tarnctl_test::RemoveTree(dir);
}

JobRecord Failed(int exitCode, long errorCode = 0, const char* command = "write") {
  JobRecord r;
  r.result = "failed";
  r.command = command;
  r.exitCode = exitCode;
  r.errorCode = errorCode;
  r.errorText = "x";
  return r;
}

// Runs a job that always fails so with `retries`; the attempts made, the
// pauses told and the milliseconds waited.
struct RetryRun {
  int attempts = 0, told = 0;
  double waitedMs = 0;
};
RetryRun Retry(const JobRecord& failure, int retries, std::atomic<bool>* stop = nullptr) {
  RetryRun run;
  std::atomic<bool> never{false};
  RetryPause pause;
  pause.sleep = [&](double ms) {
    EXPECT_LE(ms, 100.0);
    run.waitedMs += ms;
    if (stop && run.waitedMs >= 500) *stop = true;
  };
  pause.retrying = [&](const JobRecord& r) {
    ++run.told;
    EXPECT_EQ(r.attempts, run.attempts);
  };
  JobRecord r = RunWithRetries(
      retries, stop ? *stop : never,
      [&] {
        ++run.attempts;
        return failure;
      },
      pause);
  EXPECT_EQ(r.attempts, run.attempts);
  return run;
}

TEST(FleetRetries, RepeatOnlyWhatCanChangeAndWaitBetweenAttempts) {
  // A line or a pager that did not answer: every retry, each after the pause.
  RetryRun run = Retry(Failed(kExitPager, TARN_ERROR_NO_ANSWER), 3);
  EXPECT_EQ(run.attempts, 4);
  EXPECT_EQ(run.told, 3);
  EXPECT_DOUBLE_EQ(run.waitedMs, 3 * kRetryWaitMs);
  EXPECT_EQ(Retry(Failed(kExitPort), 1).attempts, 2);      // an adapter that re-enumerates
  EXPECT_EQ(Retry(Failed(kExitMismatch), 1).attempts, 2);  // written again
  // The same the next time: one attempt, no pause, nothing told.
  for (long code : {TARN_ERROR_WRONG_PASSWORD, TARN_ERROR_PASSWORD_REQUIRED,
                    TARN_ERROR_PAGER_DISABLED, TARN_ERROR_UNSUPPORTED_PAGER}) {
    run = Retry(Failed(kExitPager, code), 3);
    EXPECT_EQ(run.attempts, 1) << code;
    EXPECT_EQ(run.told, 0) << code;
    EXPECT_EQ(run.waitedMs, 0) << code;
  }
  for (int exitCode : {kExitUsage, kExitFile, kExitComponents})
    EXPECT_EQ(Retry(Failed(exitCode), 3).attempts, 1) << exitCode;
  EXPECT_EQ(Retry(Failed(kExitMismatch, 0, "verify"), 3).attempts, 1);
  // --retries 0: nothing to announce.
  run = Retry(Failed(kExitPager, TARN_ERROR_NO_ANSWER), 0);
  EXPECT_EQ(run.attempts, 1);
  EXPECT_EQ(run.told, 0);
  // An interrupt during the pause ends it and the retries.
  std::atomic<bool> stop{false};
  run = Retry(Failed(kExitPort), 5, &stop);
  EXPECT_EQ(run.attempts, 1);
  EXPECT_DOUBLE_EQ(run.waitedMs, 500);
}

TEST(FleetDisplay, LiveLineFitsSixtyColumnsKeepsThePortsEndAndShowsTheBlock) {
  LiveLineState s;
  s.port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0";
  s.id = "PGR001";
  s.phase = "write";
  s.block = 3;
  s.blocks = 10;
  s.percent = 45;
  s.elapsedS = 12.25;
  std::string line = LiveLine(s, 60);
  EXPECT_LE(line.size(), 59u) << line;
  EXPECT_NE(line.find("...B2C3D4-if00-port0 "), std::string::npos) << line;
  EXPECT_NE(line.find("PGR001 write"), std::string::npos) << line;
  EXPECT_NE(line.find("block 3/10  45%   12 s"), std::string::npos) << line;
  // Wide enough: the port as it is; no block count before the first block.
  s.port = "/dev/ttyUSB0";
  s.blocks = 0;
  line = LiveLine(s, 120);
  EXPECT_EQ(line.rfind("/dev/ttyUSB0 ", 0), 0u) << line;
  EXPECT_EQ(line.find("block"), std::string::npos) << line;
  // Done: no progress; a very narrow terminal still gets no wrapped line.
  s.done = true;
  s.phase = "interrupted";
  EXPECT_EQ(LiveLine(s, 120).find('%'), std::string::npos);
  EXPECT_LE(LiveLine(s, 20).size(), 19u);
}

TEST(FleetSummary, IdentifyShowsEachPagersTypeAndStatus) {
  JobRecord a, b;
  a.command = b.command = "identify";
  a.port = "/dev/ttyS0";
  a.infoId = "PGR001";
  a.pagerType = "8B";
  a.status = "Y";
  b.port = "/dev/ttyS1";
  b.result = "failed";
  b.errorText = "no answer";
  std::string table = SummaryTable({a, b});
  EXPECT_NE(table.find("type status"), std::string::npos) << table;
  EXPECT_NE(table.find("PGR001   8B   Y      ok"), std::string::npos) << table;
  EXPECT_EQ(table.find("written"), std::string::npos) << table;
  a.command = b.command = "write";
  EXPECT_NE(SummaryTable({a, b}).find("written"), std::string::npos);
}

}  // namespace
}  // namespace tarnctl
