// The record of one pager job, as the summary table, `--json` and the
// `--log FILE` job log show it. The log is a shop's record of which pager
// got which image: one JSON object per pager and job, one per line,
// appended (never rewritten); the fields are those of JobRecord, durations
// in seconds with millisecond resolution.
#ifndef TARNCTL_JOB_LOG_H
#define TARNCTL_JOB_LOG_H

#include <cstdint>
#include <string>

namespace tarnctl {

struct JobRecord {
  std::string time;                       // start, UTC, ISO 8601
  std::string command;                    // identify, write, verify, activate
  std::string port;                       // the settings string's device
  std::string pagerType, infoId, status;  // as the pager last reported them ("" if never)
  std::string file, sha256;               // the image and the digest of its file's bytes
  bool changedOnly = false, dryRun = false;
  uint32_t readBytes = 0, readBlocks = 0;
  uint32_t writtenBytes = 0, writtenBlocks = 0;
  uint32_t skippedBytes = 0;  // bytes of the file that did not need writing
  uint32_t plannedBlocks = 0;
  double estimateS = 0;       // the plan's estimate for its writes and read-back
  bool partialWrite = false;  // a write began and the job did not finish
  std::string result = "ok";  // ok, failed, interrupted
  int exitCode = 0;
  long errorCode = 0;  // the download server's error code (0: none or not from it)
  std::string errorText;
  std::string hint;  // what to check, for the human report (not in the JSON)
  int attempts = 1;
  double readS = 0, writeS = 0, verifyS = 0, activateS = 0, totalS = 0;
};

// The record as one line of JSON (no line end).
std::string ToJson(const JobRecord& record);

// Quotes and escapes text for JSON.
std::string JsonString(const std::string& text);

// "2026-12-08T04:07:22Z" for now.
std::string UtcTimestamp();

// Appends the record as one line. Safe from several threads of this
// process; each line goes out in one write. Throws Error (exit 4) when the
// file cannot be written.
void AppendJobLog(const std::string& fileName, const JobRecord& record);

}  // namespace tarnctl

#endif  // TARNCTL_JOB_LOG_H
