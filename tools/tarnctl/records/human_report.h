// What a person reads of a job: the result line of `write` and `verify`
// and the report of a finished job record. The JSON document and the job log
// of the same record are in job_log.h.
#ifndef TARNCTL_HUMAN_REPORT_H
#define TARNCTL_HUMAN_REPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "job_log.h"

namespace tarnctl {

// The human report of a finished record (a few lines, no trailing blank).
// Without --changed-only it is the plain command's result line.
std::string HumanReport(const JobRecord& record);

// The result lines of `write` and `verify` (no line end).
std::string WroteText(uint32_t bytes, size_t blocks, double writeS, bool verified, double verifyS);
std::string VerifiedText(uint32_t bytes, size_t blocks, double verifyS);

}  // namespace tarnctl

#endif  // TARNCTL_HUMAN_REPORT_H
