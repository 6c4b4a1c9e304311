#include "fleet.h"

#include <tarnholm/tarn_errors.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "components.h"
#include "errors.h"
#include "file_checks.h"
#include "human_report.h"
#include "image.h"
#include "interrupt_watch.h"
#include "platform.h"
#include "serial/remote_port.h"
#include "serial/settings_grammar.h"
#include "settings.h"
#include "settings_check.h"

namespace tarnctl {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
}

// Where the comment of a ports file line starts: at a '#' outside a quoted
// value (the size of the line when there is none).
size_t CommentStart(const std::string& line) {
  std::string_view rest = serial::UpToNul(line);
  serial::SettingsToken token;
  while (serial::NextSettingsToken(rest, &token, serial::SettingsDialect::kChannel)) {
    if (token.quoted) continue;
    size_t hash = token.text.find('#');
    if (hash != std::string_view::npos)
      return static_cast<size_t>(token.text.data() - line.data()) + hash;
  }
  return line.size();
}

// A ports file lists ports, one short line each.
constexpr size_t kMaxPortsFileBytes = 1u << 20;

std::string DeviceOf(const std::string& settings) {
  return SettingsValue(settings, "device").value_or("");
}

// One pager's live state, written by its worker and read by the display.
struct PagerLine {
  std::string port;
  std::atomic<int> percent{0};
  std::atomic<size_t> block{0}, blocks{0};
  std::mutex lock;  // guards phase and id
  std::string phase = "waiting", id;
  double startMs = 0;
  bool done = false;
};

// Prints: live lines at a terminal, plain "[port]" lines otherwise.
class Display {
 public:
  Display(std::vector<std::unique_ptr<PagerLine>>& lines, bool live, bool quiet)
      : lines_(lines), live_(live), quiet_(quiet) {}

  void Event(PagerLine& line, const std::string& text) {
    if (live_ || quiet_) return;
    std::lock_guard<std::mutex> guard(print_);
    std::printf("[%s] %s\n", line.port.c_str(), text.c_str());
    std::fflush(stdout);
  }

  // A message of tarnctl's own on standard error; the live lines are drawn
  // again below it rather than over it.
  void Note(const std::string& text) {
    std::lock_guard<std::mutex> guard(print_);
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", text.c_str());
    std::fflush(stderr);
    drawn_ = false;
  }

  void Redraw() {
    if (!live_) return;
    std::lock_guard<std::mutex> guard(print_);
    if (drawn_) std::printf("\x1b[%zuA", lines_.size());
    int columns = platform::TerminalColumns();
    for (auto& l : lines_) {
      LiveLineState state;
      {
        std::lock_guard<std::mutex> g(l->lock);
        state.phase = l->phase;
        state.id = l->id;
        state.done = l->done;
      }
      state.port = l->port;
      state.block = l->block.load();
      state.blocks = l->blocks.load();
      state.percent = l->percent.load();
      state.elapsedS = l->startMs > 0 ? (platform::NowMs() - l->startMs) / 1000.0 : 0;
      std::printf("\r\x1b[K%s\n", LiveLine(state, columns).c_str());
    }
    std::fflush(stdout);
    drawn_ = true;
  }

 private:
  std::vector<std::unique_ptr<PagerLine>>& lines_;
  bool live_, quiet_, drawn_ = false;
  std::mutex print_;
};

// The progress indicator a fleet job attaches: keeps the percent for the
// live line. Lives on the worker's stack for the whole job.
class PercentSink : public IProgressIndicator {
 public:
  explicit PercentSink(PagerLine& line) : line_(line) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IProgressIndicator)) {
      *out = static_cast<IProgressIndicator*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE AddStep(LONG, BSTR text, BSTR caption) override {
    SysFreeString(text);
    SysFreeString(caption);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE NextStep() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgress(LONG) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgressPercent(LONG percent) override {
    line_.percent = static_cast<int>(percent);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Show() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Hide() override { return S_OK; }

 private:
  PagerLine& line_;
};

class LineObserver : public JobObserver {
 public:
  LineObserver(PagerLine& line, Display& display) : line_(line), display_(display) {}
  void Phase(const char* phase) override {
    {
      std::lock_guard<std::mutex> guard(line_.lock);
      line_.phase = phase;
    }
    line_.percent = 0;
    line_.block = 0;
    line_.blocks = 0;
    display_.Event(line_, phase);
  }
  void Pager(const std::string& infoId) override {
    std::lock_guard<std::mutex> guard(line_.lock);
    line_.id = infoId;
  }

 private:
  PagerLine& line_;
  Display& display_;
};

std::string ResultLine(const JobRecord& r) {
  char t[256];
  std::snprintf(t, sizeof t, "%s after %.1f s", r.result.c_str(), r.totalS);
  std::string s = t;
  if (r.result != "ok") s += ": " + r.errorText;
  if (r.partialWrite) s += " (partial write: the pager holds part of the image)";
  return s;
}

// Appends the record to the job log, if there is one; the first failure is
// kept in *failure (the job goes on: its pager's state is what matters).
void Emit(JobLog* log, const JobRecord& r, std::string* failure) {
  std::string why;
  if (!log || log->Append(r, &why)) return;
  if (failure->empty()) failure->assign(why.empty() ? "write error" : why);
}

[[noreturn]] void LogFailed(const JobLog& log, const std::string& why) {
  throw Error(kExitFile, "cannot append to the job log " + log.FileName() + ": " + why,
              "the summary above is the only record of this run");
}

}  // namespace

bool UsesJobPath(const FleetOptions& f) {
  return f.ports.size() > 1 || !f.portsFile.empty() || f.changedOnly || f.dryRun || f.json ||
         f.retries > 0 || !f.logFile.empty();
}

std::vector<std::string> ParsePortsFile(const std::string& text, std::vector<size_t>* lines) {
  std::vector<std::string> out;
  size_t start = 0, number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    ++number;
    line.resize(CommentStart(line));
    line = Trim(line);
    if (!line.empty()) {
      out.push_back(line);
      if (lines) lines->push_back(number);
    }
    start = end + 1;
  }
  return out;
}

std::vector<std::string> FleetPorts(const FleetOptions& fleet, std::vector<std::string>* where) {
  std::vector<std::string> ports = fleet.ports;
  for (size_t i = 0; i < ports.size(); ++i)
    where->push_back(ports.size() == 1 ? "--port" : "--port entry " + std::to_string(i + 1));
  if (fleet.portsFile.empty()) return ports;
  const std::string hint = "one settings string per line, e.g. device = /dev/ttyUSB0 baud = 9600";
  std::string text =
      ReadSmallFile(fleet.portsFile, kMaxPortsFileBytes, "the ports file", kExitUsage);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0)
    throw Error(kExitUsage,
                "the ports file " + fleet.portsFile + " starts with a UTF-8 byte-order mark",
                "save it as plain UTF-8 without the mark; " + hint);
  std::vector<size_t> lines;
  for (const std::string& p : ParsePortsFile(text, &lines)) ports.push_back(p);
  for (size_t line : lines)
    where->push_back("line " + std::to_string(line) + " of " + fleet.portsFile);
  if (lines.empty())
    throw Error(kExitUsage, "the ports file " + fleet.portsFile + " names no port", hint);
  return ports;
}

void CheckPortEntries(const std::vector<std::string>& settings,
                      const std::vector<std::string>& where) {
  for (size_t i = 0; i < settings.size(); ++i) CheckSettings(settings[i], where.at(i));
  CheckDistinctDevices(settings);
}

void CheckDistinctDevices(const std::vector<std::string>& settings) {
  std::vector<std::string> seen;
  for (size_t i = 0; i < settings.size(); ++i) {
    std::string device = DeviceOf(settings[i]);
    if (device.empty())
      throw Error(
          kExitUsage,
          "port entry " + std::to_string(i + 1) + " names no device: \"" + settings[i] + "\"",
          "each entry is a settings string such as device = /dev/ttyUSB0 baud = 9600");
    std::error_code ec;
    std::string path = ResolveDevice(device);
    std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
    std::string key = ec ? path : real.string();
    if (serial::IsRemotePortName(path)) key = serial::RemotePortKey(path);  // same host and port
    for (size_t j = 0; j < seen.size(); ++j)
      if (seen[j] == key || platform::SameDevice(seen[j], key))
        throw Error(kExitUsage,
                    "port entries " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                        " name the same device " + key,
                    "each pager needs a port of its own; nothing was started");
    seen.push_back(key);
  }
}

bool WorthRetrying(const JobRecord& r) {
  switch (r.errorCode) {
    case TARN_ERROR_WRONG_PASSWORD:
    case TARN_ERROR_PASSWORD_REQUIRED:
    case TARN_ERROR_PAGER_DISABLED:
    case TARN_ERROR_UNSUPPORTED_PAGER:
      return false;
    default:
      break;
  }
  return r.exitCode == kExitPager || r.exitCode == kExitPort ||
         (r.exitCode == kExitMismatch && r.command == "write");
}

JobRecord RunWithRetries(int retries, const std::atomic<bool>& stop,
                         const std::function<JobRecord()>& attempt, const RetryPause& pause) {
  JobRecord r;
  bool partial = false;
  uint32_t read = 0, readBlocks = 0, written = 0, writtenBlocks = 0;
  for (int n = 1;; ++n) {
    r = attempt();
    r.attempts = n;
    read += r.readBytes;
    readBlocks += r.readBlocks;
    written += r.writtenBytes;
    writtenBlocks += r.writtenBlocks;
    partial = r.result == "ok" ? false : (partial || r.partialWrite);
    if (r.result != "failed" || n > retries || stop.load() || !WorthRetrying(r)) break;
    if (pause.retrying) pause.retrying(r);
    for (double left = pause.waitMs; left > 0 && !stop.load(); left -= 100) {
      double slice = left < 100 ? left : 100;
      if (pause.sleep)
        pause.sleep(slice);
      else
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(slice));
    }
    if (stop.load()) break;
  }
  r.partialWrite = partial;
  r.readBytes = read;
  r.readBlocks = readBlocks;
  r.writtenBytes = written;
  r.writtenBlocks = writtenBlocks;
  return r;
}

int FleetExitCode(const std::vector<JobRecord>& records) {
  int code = kExitOk;
  for (const JobRecord& r : records) {
    if (r.result == "interrupted") return kExitInterrupted;
    if (r.result != "ok") code = kExitSomeFailed;
  }
  return code;
}

std::string SummaryTable(const std::vector<JobRecord>& records) {
  std::string s = "summary\n";
  char t[512];
  bool identify = !records.empty() && records.front().command == "identify";
  if (identify)
    std::snprintf(t, sizeof t, "  %-20s %-8s %-4s %-6s %-11s %8s  %s\n", "port", "pager", "type",
                  "status", "result", "time", "error");
  else
    std::snprintf(t, sizeof t, "  %-20s %-8s %-11s %7s %7s %8s  %s\n", "port", "pager", "result",
                  "written", "skipped", "time", "error");
  s += t;
  size_t ok = 0;
  for (const JobRecord& r : records) {
    ok += r.result == "ok";
    std::string result = r.result + (r.partialWrite ? "*" : "");
    if (identify)
      std::snprintf(t, sizeof t, "  %-20s %-8s %-4s %-6s %-11s %6.1f s  %s\n", r.port.c_str(),
                    r.infoId.c_str(), r.pagerType.c_str(), r.status.c_str(), result.c_str(),
                    r.totalS, r.errorText.c_str());
    else
      std::snprintf(t, sizeof t, "  %-20s %-8s %-11s %7u %7u %6.1f s  %s\n", r.port.c_str(),
                    r.infoId.c_str(), result.c_str(), r.writtenBytes, r.skippedBytes, r.totalS,
                    r.errorText.c_str());
    s += t;
  }
  std::snprintf(t, sizeof t, "%zu of %zu pager(s) ok", ok, records.size());
  s += t;
  for (const JobRecord& r : records)
    if (r.partialWrite) {
      s += "\n* partial write: run the job again on these pagers";
      break;
    }
  return s + "\n";
}

std::string LiveLine(const LiveLineState& state, int columns) {
  char t[160];
  std::snprintf(t, sizeof t, " %-6.6s %-8s", state.id.c_str(), state.phase.c_str());
  std::string right = t;
  if (!state.done) {
    if (state.blocks > 0) {
      std::snprintf(t, sizeof t, " block %zu/%zu", state.block, state.blocks);
      right += t;
    }
    std::snprintf(t, sizeof t, " %3d%% %4.0f s", state.percent, state.elapsedS);
    right += t;
  }
  int width = columns > 1 ? columns - 1 : 1;
  size_t room = static_cast<size_t>(std::max(8, width - static_cast<int>(right.size())));
  std::string port = state.port;
  if (port.size() > room) port = "..." + port.substr(port.size() - (room - 3));
  port.resize(room, ' ');
  std::string line = port + right;
  if (line.size() > static_cast<size_t>(width)) line.resize(static_cast<size_t>(width));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

namespace {

struct Prepared {
  MemoryImage image;
  JobSpec spec;
};

// Loads the image (before any password prompt) and fills the job.
void Prepare(Prepared* p, const FleetOptions& fleet, JobKind kind, const std::string& file,
             bool verify, uint32_t block) {
  p->spec.kind = kind;
  p->spec.verify = verify;
  p->spec.block = block;
  p->spec.changedOnly = fleet.changedOnly;
  p->spec.dryRun = fleet.dryRun;
  if (kind == JobKind::kWrite || kind == JobKind::kVerify) {
    p->image = LoadImage(file);
    p->spec.image = &p->image;
    p->spec.file = file;
    p->spec.sha256 = p->image.sha256;
  }
  if ((fleet.changedOnly || fleet.dryRun) && kind != JobKind::kWrite)
    throw Error(kExitUsage, "--changed-only and --dry-run belong to write");
  if (fleet.dryRun && !fleet.changedOnly)
    throw Error(kExitUsage, "--dry-run shows the plan of --changed-only; give both");
}

// The plain command's output on the job path: the activation's wait line
// as it starts, and what the pager last reported for the result.
class PlainOutput : public JobObserver {
 public:
  explicit PlainOutput(bool show) : show_(show) {}
  void Phase(const char* phase) override {
    if (!show_ || std::string(phase) != "activate") return;
    std::printf("%s\n", kActivateWaiting);
    std::fflush(stdout);
  }
  void Identity(const std::string& device, const PagerIdentity& identity) override {
    device_ = device;
    identity_ = identity;
    known_ = true;
  }
  // identify's fields (also when quiet, as identify prints them), or
  // activate's result line; false when there is nothing of the kind.
  bool PrintResult(const JobRecord& r, JobKind kind) const {
    if (!known_) return false;
    if (kind == JobKind::kIdentify) PrintIdentity(device_, identity_);
    if (kind == JobKind::kActivate && show_ && r.result == "ok")
      std::printf("%s\n", ActivatedText(r.activateS * 1000.0, identity_).c_str());
    return kind == JobKind::kIdentify || (kind == JobKind::kActivate && r.result == "ok");
  }

 private:
  bool show_;
  std::string device_;
  PagerIdentity identity_;
  bool known_ = false;
};

std::string RetryText(const JobRecord& r, double waitMs) {
  char t[64];
  std::snprintf(t, sizeof t, "; trying again in %.0f s", waitMs / 1000.0);
  return "attempt " + std::to_string(r.attempts) + " failed: " + r.errorText + t;
}

// What a job running on another thread has done so far, for a record
// made before it ends (a second interrupt does not wait for it). Passes
// what it sees on to the plain output.
class LiveRecord : public JobObserver {
 public:
  explicit LiveRecord(JobObserver* next) : next_(next) {}
  void Phase(const char* phase) override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      phase_ = phase;
    }
    next_->Phase(phase);
  }
  void Pager(const std::string& infoId) override { next_->Pager(infoId); }
  void Identity(const std::string& device, const PagerIdentity& identity) override {
    next_->Identity(device, identity);
  }
  void BlockDone(const char* verb, const Block& b) {
    std::lock_guard<std::mutex> guard(lock_);
    if (std::string(verb) != "write") return;
    writtenBytes_ += b.length;
    ++writtenBlocks_;
  }
  // The record of a job stopped at once by the interrupt.
  JobRecord Stopped(const JobSpec& spec, const SessionOptions& options, double startMs) {
    std::lock_guard<std::mutex> guard(lock_);
    JobRecord r;
    r.time = UtcTimestamp();
    r.command = JobName(spec.kind);
    r.port = DeviceOf(options.settings);
    r.file = spec.file;
    r.sha256 = spec.sha256;
    r.changedOnly = spec.changedOnly && spec.kind == JobKind::kWrite;
    r.writtenBytes = writtenBytes_;
    r.writtenBlocks = writtenBlocks_;
    r.partialWrite = phase_ == "write";
    r.result = "interrupted";
    r.exitCode = kExitInterrupted;
    r.errorText = "stopped at once during " + (phase_.empty() ? "the start" : phase_) +
                  (r.partialWrite ? "; the block under way may be partly written" : "");
    r.totalS = (platform::NowMs() - startMs) / 1000.0;
    return r;
  }

 private:
  JobObserver* next_;
  std::mutex lock_;
  std::string phase_;
  uint32_t writtenBytes_ = 0, writtenBlocks_ = 0;
};

// Without --json the output is the plain command's: identify prints the
// pager's fields, activate its result line, a failure its message and hint.
void PrintOne(const CommonOptions& common, const FleetOptions& fleet, const JobRecord& r,
              const PlainOutput& plain, JobKind kind) {
  bool printed = !fleet.json && plain.PrintResult(r, kind);
  if (fleet.json) {
    std::printf("%s\n", ToJson(r).c_str());
  } else if (r.result == "ok") {
    if (!common.quiet && !printed) std::printf("%s\n", HumanReport(r).c_str());
  } else {
    std::fflush(stdout);
    if (r.planned && !common.quiet) std::printf("%s\n", HumanReport(r).c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", r.errorText.c_str());
    if (!r.hint.empty()) std::fprintf(stderr, "  hint: %s\n", r.hint.c_str());
  }
  std::fflush(stdout);
}

// One pager: the job runs on a worker thread while this one watches for
// Ctrl-C and SIGTERM. The first interrupt stops the job before its next
// block, the second at once; either way the record is printed and logged,
// and tarnctl then ends by the signal.
int RunOne(const CommonOptions& common, const FleetOptions& fleet, const JobSpec& spec,
           JobLog* log) {
  SessionOptions options = ResolveSession(common);
  if (fleet.json) options.output = OutputMode{true, false};  // the object alone on stdout
  std::atomic<bool> stop{false}, done{false};
  PlainOutput plain(!fleet.json && !common.quiet);
  LiveRecord live(&plain);
  options.stop = &stop;
  options.blockDone = [&live](const char* verb, const Block& b) { live.BlockDone(verb, b); };
  JobSpec own = spec;
  own.progressAttached = options.output.window && !options.output.quiet;
  RetryPause pause;
  pause.retrying = [&](const JobRecord& failed) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", RetryText(failed, pause.waitMs).c_str());
  };
  JobRecord r;
  double start = platform::NowMs();
  InterruptWatch interrupts;  // before the worker: it inherits it
  std::thread worker([&] {
    Runtime runtime;  // this thread's own runtime (COM) initialisation
    r = RunWithRetries(
        fleet.retries, stop, [&] { return RunPagerJob(own, options, &live); }, pause);
    done = true;
  });
  while (!done.load()) {
    if (!interrupts.WaitMs(100)) continue;
    if (stop.exchange(true)) {  // the second: no waiting for the block
      std::fprintf(stderr, "tarnctl: interrupted again; stopping at once\n");
      JobRecord now = live.Stopped(own, options, start);
      PrintOne(common, fleet, now, plain, spec.kind);
      std::string failure;
      Emit(log, now, &failure);
      EndBySignal(interrupts.Signal());
    }
    std::fprintf(stderr,
                 "tarnctl: interrupted; the job stops after its current block (again: at once)\n");
  }
  worker.join();
  PrintOne(common, fleet, r, plain, spec.kind);
  std::string failure;
  Emit(log, r, &failure);
  if (interrupts.Signal()) EndBySignal(interrupts.Signal());
  if (!failure.empty()) LogFailed(*log, failure);
  return r.exitCode;
}

// The second interrupt: names the pagers still at work, then ends the
// process by the signal, which closes their ports at once.
[[noreturn]] void StopAtOnce(Display& display, std::vector<std::unique_ptr<PagerLine>>& lines,
                             int signal) {
  std::string text = "interrupted again: stopped at once";
  for (auto& l : lines) {
    std::lock_guard<std::mutex> guard(l->lock);
    if (l->done) continue;
    text += "\n  " + l->port + ": stopped during " + l->phase;
    if (l->phase == "write") text += "; the pager may hold part of the image";
  }
  display.Note(text);
  EndBySignal(signal);
}

// Redraws until the workers are done. The first interrupt tells them to
// stop after their current block, a second one stops at once. Returns the
// first interrupt's signal, 0 when there was none.
int WatchWorkers(Display& display, std::vector<std::unique_ptr<PagerLine>>& lines,
                 std::atomic<bool>& stop, const std::atomic<size_t>& running,
                 InterruptWatch& interrupts) {
  int first = 0;
  while (running.load() > 0) {
    int signal = interrupts.WaitMs(200);
    if (signal && first) StopAtOnce(display, lines, signal);
    if (signal) {
      first = signal;
      stop = true;
      display.Note(
          "interrupted; every pager stops after its current block (interrupt again to stop at "
          "once)");
    }
    display.Redraw();
  }
  return first;
}

int RunMany(const CommonOptions& common, const FleetOptions& fleet, const JobSpec& fleetSpec,
            const std::vector<std::string>& ports, JobLog* log) {
  CommonOptions first = common;
  first.port = ports.front();
  SessionOptions base = ResolveSession(first);  // the one password prompt
  base.traceFile.clear();
  // With --json standard output carries the objects alone: no human progress.
  bool live = !common.quiet && !common.noWindow && !fleet.json && platform::Interactive();
  JobSpec spec = fleetSpec;
  spec.progressAttached = live;  // percents only for the live lines
  std::vector<std::unique_ptr<PagerLine>> lines;
  for (const std::string& p : ports) {
    lines.push_back(std::make_unique<PagerLine>());
    lines.back()->port = DeviceOf(p);
    lines.back()->startMs = platform::NowMs();  // before the threads: read by the display
  }
  Display display(lines, live, common.quiet || fleet.json);
  std::vector<JobRecord> records(ports.size());
  std::atomic<bool> stop{false};
  std::atomic<size_t> running{ports.size()};
  std::mutex logLock;  // guards logFailure
  std::string logFailure;
  InterruptWatch interrupts;  // before the workers: they inherit it
  std::vector<std::thread> workers;
  for (size_t i = 0; i < ports.size(); ++i)
    workers.emplace_back([&, i] {
      PagerLine& line = *lines[i];
      PercentSink sink(line);
      LineObserver observer(line, display);
      SessionOptions options = base;
      options.settings = ports[i];
      options.output.quiet = true;
      options.progress = live ? &sink : nullptr;
      options.indicator = false;
      options.stop = &stop;
      options.blockStart = [&line](size_t index, size_t count) {
        line.blocks = count;
        line.block = index + 1;
      };
      RetryPause pause;
      pause.retrying = [&](const JobRecord& failed) {
        {
          std::lock_guard<std::mutex> guard(line.lock);
          line.phase = "retry wait";
        }
        display.Event(line, RetryText(failed, pause.waitMs));
      };
      {
        Runtime runtime;  // this thread's own runtime (COM) initialisation
        records[i] = RunWithRetries(
            fleet.retries, stop, [&] { return RunPagerJob(spec, options, &observer); }, pause);
      }
      {
        std::lock_guard<std::mutex> guard(line.lock);
        line.phase = records[i].result;
        line.id = records[i].infoId;
        line.done = true;
      }
      display.Event(line, ResultLine(records[i]));
      {
        std::lock_guard<std::mutex> guard(logLock);
        Emit(log, records[i], &logFailure);  // as it finishes: a later kill keeps it
      }
      --running;
    });
  int interrupted = WatchWorkers(display, lines, stop, running, interrupts);
  for (std::thread& w : workers) w.join();
  display.Redraw();
  if (fleet.json) {
    for (const JobRecord& r : records) std::printf("%s\n", ToJson(r).c_str());
  } else {
    for (const JobRecord& r : records)
      if (r.planned)
        std::printf("[%s] plan: writes %s\n", r.port.c_str(), RangesText(r.plan).c_str());
    std::printf("%s", SummaryTable(records).c_str());
  }
  std::fflush(stdout);
  if (interrupted) {
    if (!logFailure.empty())
      std::fprintf(stderr, "tarnctl: cannot append to the job log %s: %s\n",
                   log->FileName().c_str(), logFailure.c_str());
    EndBySignal(interrupted);
  }
  if (!logFailure.empty()) LogFailed(*log, logFailure);
  return FleetExitCode(records);
}

}  // namespace

int RunJobCommand(const CommonOptions& common, const FleetOptions& fleet, JobKind kind,
                  const std::string& file, bool verify, uint32_t block) {
  if (fleet.retries < 0) throw Error(kExitUsage, "--retries takes a number from 0");
  Runtime runtime;
  Prepared prepared;
  Prepare(&prepared, fleet, kind, file, verify, block);
  std::vector<std::string> where;
  std::vector<std::string> ports = FleetPorts(fleet, &where);
  CheckPortEntries(ports, where);  // every entry, before any password prompt
  bool one = ports.size() <= 1 && fleet.portsFile.empty();
  if (!one && !common.traceFile.empty())
    throw Error(kExitUsage, "--trace follows one pager; give one --port with it");
  // Opened before any pager is woken, as read -o checks its file.
  std::unique_ptr<JobLog> log;
  if (!fleet.logFile.empty()) log = std::make_unique<JobLog>(fleet.logFile);
  if (one) {
    CommonOptions single = common;
    if (!ports.empty()) single.port = ports.front();
    return RunOne(single, fleet, prepared.spec, log.get());
  }
  return RunMany(common, fleet, prepared.spec, ports, log.get());
}

}  // namespace tarnctl
