// What a job leaves behind (records/): the JobRecord, the report a person
// reads (human_report.h), its JSON document and the job log below. Records
// are made from a finished job and never drive one.
//
// The record of one pager job, as the summary table, `--json` and the
// `--log FILE` job log show it. The log is a shop's record of which pager
// got which image: one JSON object per pager and job, one per line,
// appended (never rewritten); the fields are those of JobRecord, durations
// in seconds with millisecond resolution.
//
// Every document is valid UTF-8 whatever bytes a name holds. Text fields
// keep valid UTF-8 as it is; a byte that is not part of a well-formed UTF-8
// sequence is written "%XX" (its value in upper-case hex), and a '%' that
// two hex digits follow is written "%25". Reading "%XX" back as the byte
// XX gives the original bytes, so two different names never come out the
// same.
#ifndef TARNCTL_JOB_LOG_H
#define TARNCTL_JOB_LOG_H

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "pager.h"

namespace tarnctl {

struct JobRecord {
  std::string time;                       // start, UTC, ISO 8601
  std::string command;                    // identify, write, verify, activate
  std::string port;                       // the settings string's device
  std::string pagerType, infoId, status;  // as the pager last reported them ("" if never)
  std::string file, sha256;               // the image and the digest of the bytes written
  bool changedOnly = false, dryRun = false;
  uint32_t readBytes = 0, readBlocks = 0;
  uint32_t writtenBytes = 0, writtenBlocks = 0;  // over every attempt
  uint32_t skippedBytes = 0;                     // bytes of the file that did not need writing
  uint32_t plannedBlocks = 0;
  bool planned = false;       // the changed-only plan was made
  std::vector<Block> plan;    // the blocks it writes, in address order
  double estimateS = 0;       // the plan's estimate for its writes and read-back
  bool partialWrite = false;  // data went to the pager and the write did not finish
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

// Any bytes as valid UTF-8 text, reversibly (see above).
std::string RecordText(const std::string& bytes);

// "2026-12-08T04:07:22Z" for now.
std::string UtcTimestamp();

// "0x0405-0x0432, 0x0500-0x0507" ("none" for no blocks).
std::string RangesText(const std::vector<Block>& blocks);

// The job log, opened (created if need be) for appending before any pager
// is woken, so that a log that cannot be written costs no job. Append writes
// each record as one whole line in one write, at once, so a run killed later
// keeps the records of the pagers that finished. Safe from several threads.
class JobLog {
 public:
  // Throws Error (exit 4) naming the file and the reason.
  explicit JobLog(const std::string& fileName);
  ~JobLog();
  JobLog(const JobLog&) = delete;
  JobLog& operator=(const JobLog&) = delete;

  // False (and the reason in *why) when the line could not be written.
  bool Append(const JobRecord& record, std::string* why);
  const std::string& FileName() const { return fileName_; }

 private:
  std::string fileName_;
  std::FILE* file_ = nullptr;
  std::mutex lock_;
};

}  // namespace tarnctl

#endif  // TARNCTL_JOB_LOG_H
