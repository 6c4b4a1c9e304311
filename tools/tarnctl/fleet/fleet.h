// Many pagers at once (fleet/): the job path of the command line. It takes
// the ports and job options (fleet_options.h), runs one job (job/) per
// pager on its own thread with retries, shows them live, stops them at a
// safe point on Ctrl-C (interrupt_watch.h), and ends with the records
// (records/), the summary and the exit code.
//
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
// 130 or 143 when an interrupt stopped the run (it ends by the signal), else
// 7 (the summary tells which pagers failed and why). A pager that fails does
// not stop the others.
//
// Ctrl-C or SIGTERM stops every pager after its current block; after the
// summary the process ends by that signal (130 and 143 in a shell). A second
// one stops at once: the pagers still running are named, with those that
// may hold part of the image, and the process ends by the signal, which
// closes the ports.
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

// The settings strings of a --ports file: one per line; '#' outside a
// quoted value starts a comment, blank lines are skipped, blanks around an
// entry dropped. `lines` (optional) receives each entry's line number.
std::vector<std::string> ParsePortsFile(const std::string& text,
                                        std::vector<size_t>* lines = nullptr);

// The entries of --port and --ports FILE, in that order, with where each
// came from ("--port entry 2", "line 3 of FILE") in `where`. Throws Error
// (exit 1) for a ports file that is missing, a folder, unreadable, starts
// with a UTF-8 byte-order mark or names no port.
std::vector<std::string> FleetPorts(const FleetOptions& fleet, std::vector<std::string>* where);

// Every entry through the settings check of a single --port (CheckSettings),
// then CheckDistinctDevices; all before anything starts. Throws Error (exit 1).
void CheckPortEntries(const std::vector<std::string>& settings,
                      const std::vector<std::string>& where);

// Refuses (Error, exit 1) entries without a device and two entries that
// name the same device, also through a COMn mapping or a symbolic link.
void CheckDistinctDevices(const std::vector<std::string>& settings);

// The pause before a retry: long enough for a USB adapter that
// re-enumerates to come back.
inline constexpr double kRetryWaitMs = 2000;

// True when running a failed job again may help: the line or the pager did
// not answer, or a written block read back different. Not for what the
// next attempt meets unchanged: usage, file and component failures, a wrong
// or missing password (repeating it can lock a pager out), a disabled or
// unsupported pager, a verify-only mismatch.
bool WorthRetrying(const JobRecord& failed);

struct RetryPause {
  double waitMs = kRetryWaitMs;
  // Spends the pause (in slices of at most 100 ms); empty: real time.
  std::function<void(double ms)> sleep;
  // Told of a failed attempt that another one follows, before the pause.
  std::function<void(const JobRecord& failed)> retrying;
};

// One pager's run with its retries: calls `attempt` until it succeeds, the
// retries are used up, a failure is not worth retrying, or `stop` is set
// (also during the pause). The record of the last attempt comes back with
// the number of attempts, and partialWrite when any attempt left a write
// unfinished that no later attempt completed.
JobRecord RunWithRetries(int retries, const std::atomic<bool>& stop,
                         const std::function<JobRecord()>& attempt, const RetryPause& pause = {});

// 0 when every record is ok, 130 when one was interrupted, else 7.
int FleetExitCode(const std::vector<JobRecord>& records);

// The summary table (one line per pager, then the count); for identify it
// shows each pager's type and status instead of the byte counts.
std::string SummaryTable(const std::vector<JobRecord>& records);

// What one line of the live display shows.
struct LiveLineState {
  std::string port, id, phase;
  bool done = false;
  size_t block = 0, blocks = 0;  // the block under way (from 1) of the phase's blocks
  int percent = 0;
  double elapsedS = 0;
};

// One pager's live line, at most `columns` - 1 characters (so that it never
// wraps and the redraw stays in place): port, pager id, phase, then while it
// runs "block N/M", percent and elapsed time. A port name too long for the
// line keeps its end ("...A1B2C3-if00-port0"), which tells devices apart.
std::string LiveLine(const LiveLineState& state, int columns);

// identify/write/verify/activate through the job path.
int RunJobCommand(const CommonOptions& common, const FleetOptions& fleet, JobKind kind,
                  const std::string& file, bool verify, uint32_t block);

}  // namespace tarnctl

#endif  // TARNCTL_FLEET_H
