// One pager's job (job/): the S19 image read once and checked
// (file_checks.h, image.h, output_file.h), the session on the download
// object with its progress (pager.h, progress.h), the changed-only plan
// (write_plan.h), the image's digest (sha256.h), and the run below, which
// records what happened in a JobRecord (records/) instead of printing it.
// It uses the seams (seams/) and knows nothing of the command line or of
// other pagers.
//
// One pager job (identify, write, verify or activate) from start to end on
// one download object, recorded in a JobRecord instead of printed: the unit
// of work of a fleet, of `--json` and of `--changed-only`.
//
// A write with changedOnly first reads what the pager holds for the file's
// ranges, plans the writes (write_plan.h), writes the planned blocks and
// reads back only those: with the first read every byte of the file is
// checked. With dryRun it stops after the plan. A retry of a failed
// changed-only write starts from a new read, so it continues where the
// failure left off.
#ifndef TARNCTL_PAGER_JOB_H
#define TARNCTL_PAGER_JOB_H

#include <cstdint>
#include <string>

#include "image.h"
#include "job_log.h"
#include "pager.h"

namespace tarnctl {

enum class JobKind { kIdentify, kWrite, kVerify, kActivate };

const char* JobName(JobKind kind);

struct JobSpec {
  JobKind kind = JobKind::kIdentify;
  const MemoryImage* image = nullptr;  // write and verify; shared, read only
  std::string file, sha256;
  bool verify = true;  // write: read back what was written
  bool changedOnly = false;
  bool dryRun = false;
  uint32_t block = 65535;
  bool progressAttached = false;  // for the plan's time model
};

// Told of the job's phases ("identify", "read", "write", "verify",
// "activate"), from the job's own thread.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  virtual void Phase(const char* phase) = 0;
  // The pager's info id, once a transaction brought it.
  virtual void Pager(const std::string& infoId) {}
  // At the end of the job, what the pager last reported, when it answered.
  virtual void Identity(const std::string& device, const PagerIdentity& identity) {}
};

// Runs the job once on a new session; never throws. The record's result,
// exit code and error describe how it ended; `mismatchAt` is the first
// differing address of a failed verify.
JobRecord RunPagerJob(const JobSpec& spec, const SessionOptions& options,
                      JobObserver* observer = nullptr);

}  // namespace tarnctl

#endif  // TARNCTL_PAGER_JOB_H
