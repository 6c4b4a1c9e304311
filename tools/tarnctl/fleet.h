// Jobs on many pagers at once, and the job options of identify, write,
// verify and activate (--port given several times, --ports FILE,
// --changed-only, --dry-run, --retries, --log, --json).
//
// Each pager gets its own download object on its own thread (which
// initialises the component runtime for itself); the password is asked at
// most once, before any job starts, and goes to every pager. At a terminal
// one live line per pager shows port, pager id, phase, percent and elapsed
// time; otherwise each event is a plain line prefixed with "[port]". The
// run ends with a summary table. Exit code: 0 when every pager succeeded,
// 130 when Ctrl-C stopped the run, else 7 (the summary tells which pagers
// failed and why). A pager that fails does not stop the others.
//
// Records: the job log is opened before any pager is woken, and each
// record is appended as its pager finishes. With --json standard output
// carries the JSON objects alone (no "[port]" lines, no live display). A
// single pager's job runs on a worker thread as well: Ctrl-C or SIGTERM
// stops it before its next block (a second Ctrl-C at once), its record is
// printed and logged, and tarnctl then ends by that signal.
#ifndef TARNCTL_FLEET_H
#define TARNCTL_FLEET_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "commands.h"
#include "job_log.h"
#include "pager_job.h"

namespace tarnctl {

struct FleetOptions {
  std::vector<std::string> ports;  // --port, any number of times
  std::string portsFile;           // --ports FILE
  bool changedOnly = false, dryRun = false, json = false;
  int retries = 0;
  std::string logFile;
};

// True when a command must take the job path (any of the options above
// beyond one plain --port).
bool UsesJobPath(const FleetOptions& fleet);

// The settings strings of a --ports file: one per line; '#' starts a
// comment, blank lines are skipped, blanks around an entry dropped.
std::vector<std::string> ParsePortsFile(const std::string& text);

// Refuses (Error, exit 1) entries without a device and two entries that
// name the same device, also through a COMn mapping or a symbolic link.
void CheckDistinctDevices(const std::vector<std::string>& settings);

// One pager's run with its retries: calls `attempt` until it succeeds, the
// retries are used up, or `stop` is set. The record of the last attempt
// comes back with the number of attempts, and partialWrite when any attempt
// left a write unfinished that no later attempt completed.
JobRecord RunWithRetries(int retries, const std::atomic<bool>& stop,
                         const std::function<JobRecord()>& attempt);

// 0 when every record is ok, 130 when one was interrupted, else 7.
int FleetExitCode(const std::vector<JobRecord>& records);

// The summary table (one line per pager, then the count).
std::string SummaryTable(const std::vector<JobRecord>& records);

// identify/write/verify/activate through the job path.
int RunJobCommand(const CommonOptions& common, const FleetOptions& fleet, JobKind kind,
                  const std::string& file, bool verify, uint32_t block);

}  // namespace tarnctl

#endif  // TARNCTL_FLEET_H
