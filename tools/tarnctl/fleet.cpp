#include "fleet.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "components.h"
#include "errors.h"
#include "image.h"
#include "interrupt_watch.h"
#include "platform.h"
#include "settings.h"

namespace tarnctl {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
}

std::string DeviceOf(const std::string& settings) {
  return SettingsValue(settings, "device").value_or("");
}

// One pager's live state, written by its worker and read by the display.
struct PagerLine {
  std::string port;
  std::atomic<int> percent{0};
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

  void Redraw() {
    if (!live_) return;
    std::lock_guard<std::mutex> guard(print_);
    if (drawn_) std::printf("\x1b[%zuA", lines_.size());
    for (auto& l : lines_) {
      std::string phase, id;
      bool done;
      {
        std::lock_guard<std::mutex> g(l->lock);
        phase = l->phase;
        id = l->id;
        done = l->done;
      }
      double elapsed = l->startMs > 0 ? (platform::NowMs() - l->startMs) / 1000.0 : 0;
      std::printf("\r\x1b[K%-20s %-8s %-12s", l->port.c_str(), id.c_str(), phase.c_str());
      if (!done) std::printf(" %3d%% %6.1f s", l->percent.load(), elapsed);
      std::printf("\n");
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

// The entries of --port and --ports FILE, in that order.
std::vector<std::string> FleetPorts(const FleetOptions& fleet) {
  std::vector<std::string> ports = fleet.ports;
  if (!fleet.portsFile.empty()) {
    std::ifstream in(fleet.portsFile, std::ios::binary);
    if (!in)
      throw Error(kExitUsage, "cannot read the ports file " + fleet.portsFile,
                  "one settings string per line, e.g. device = /dev/ttyUSB0 baud = 9600");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string& p : ParsePortsFile(text)) ports.push_back(p);
    if (ports.empty())
      throw Error(kExitUsage, "the ports file " + fleet.portsFile + " names no port");
  }
  return ports;
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

std::vector<std::string> ParsePortsFile(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    line = Trim(line);
    if (!line.empty()) out.push_back(line);
    start = end + 1;
  }
  return out;
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
    for (size_t j = 0; j < seen.size(); ++j)
      if (seen[j] == key)
        throw Error(kExitUsage,
                    "port entries " + std::to_string(j + 1) + " and " + std::to_string(i + 1) +
                        " name the same device " + key,
                    "each pager needs a port of its own; nothing was started");
    seen.push_back(key);
  }
}

JobRecord RunWithRetries(int retries, const std::atomic<bool>& stop,
                         const std::function<JobRecord()>& attempt) {
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
    if (r.result != "failed" || n > retries || stop.load()) break;
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
  std::snprintf(t, sizeof t, "  %-20s %-8s %-11s %7s %7s %8s  %s\n", "port", "pager", "result",
                "written", "skipped", "time", "error");
  s += t;
  size_t ok = 0;
  for (const JobRecord& r : records) {
    ok += r.result == "ok";
    std::string result = r.result + (r.partialWrite ? "*" : "");
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

// What a job running on another thread has done so far, for a record
// made before it ends (a second interrupt does not wait for it).
class LiveRecord : public JobObserver {
 public:
  void Phase(const char* phase) override {
    std::lock_guard<std::mutex> guard(lock_);
    phase_ = phase;
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
  std::mutex lock_;
  std::string phase_;
  uint32_t writtenBytes_ = 0, writtenBlocks_ = 0;
};

void PrintOne(const CommonOptions& common, const FleetOptions& fleet, const JobRecord& r) {
  if (fleet.json) {
    std::printf("%s\n", ToJson(r).c_str());
  } else if (r.result == "ok") {
    if (!common.quiet) std::printf("%s\n", HumanReport(r).c_str());
  } else {
    std::fflush(stdout);
    if (r.planned && !common.quiet) std::printf("%s\n", HumanReport(r).c_str());
    std::fprintf(stderr, "tarnctl: %s\n", r.errorText.c_str());
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
  LiveRecord live;
  options.stop = &stop;
  options.blockDone = [&live](const char* verb, const Block& b) { live.BlockDone(verb, b); };
  JobSpec own = spec;
  own.progressAttached = options.output.window && !options.output.quiet;
  JobRecord r;
  double start = platform::NowMs();
  InterruptWatch interrupts;  // before the worker: it inherits it
  std::thread worker([&] {
    Runtime runtime;  // this thread's own runtime (COM) initialisation
    r = RunWithRetries(fleet.retries, stop, [&] { return RunPagerJob(own, options, &live); });
    done = true;
  });
  while (!done.load()) {
    if (!interrupts.WaitMs(100)) continue;
    if (stop.exchange(true)) {  // the second: no waiting for the block
      std::fprintf(stderr, "tarnctl: interrupted again; stopping at once\n");
      JobRecord now = live.Stopped(own, options, start);
      PrintOne(common, fleet, now);
      std::string failure;
      Emit(log, now, &failure);
      EndByInterrupt(interrupts.Signal());
    }
    std::fprintf(stderr,
                 "tarnctl: interrupted; the job stops after its current block (again: at once)\n");
  }
  worker.join();
  PrintOne(common, fleet, r);
  std::string failure;
  Emit(log, r, &failure);
  if (interrupts.Signal()) EndByInterrupt(interrupts.Signal());
  if (!failure.empty()) LogFailed(*log, failure);
  return r.exitCode;
}

int RunMany(const CommonOptions& common, const FleetOptions& fleet, const JobSpec& fleetSpec,
            const std::vector<std::string>& ports, JobLog* log) {
  CheckDistinctDevices(ports);
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
      {
        Runtime runtime;  // this thread's own runtime (COM) initialisation
        records[i] = RunWithRetries(fleet.retries, stop, [&] {
          JobRecord r = RunPagerJob(spec, options, &observer);
          if (r.result == "failed" && !stop.load())
            display.Event(line, "attempt failed: " + r.errorText);
          return r;
        });
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
  bool told = false;
  while (running.load() > 0) {
    if (interrupts.WaitMs(200) && !told) {
      stop = true;
      told = true;
      std::fprintf(stderr, "tarnctl: interrupted; every pager stops after its current block\n");
    }
    display.Redraw();
  }
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
  std::vector<std::string> ports = FleetPorts(fleet);
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
