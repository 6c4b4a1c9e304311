// api_soak: the download server soaked through its component interface in
// one long-lived process. T threads each own one simulated pager (a pagersim
// process on a pseudo-terminal, restarted for every job with the memory the
// pager held after the last one, maybe with one fault) and, over and over,
// create CDownload by its ProgID, do one random job (identify, read, write,
// write and read back, activate, command mode), release the object and stop
// the pager, whose memory dump is the truth the job is checked against.
// A job may fail; it must never report success for bytes the pager does not
// hold or an identity it did not give, never change the memory when it does
// not write, and never run past the protocol's own bound (what no host can
// tell, an identity shifted by a line's echo or read data a wrong-byte
// fault changed, is counted apart: neither answer has a checksum). After a warm-up
// and again at the end, with every thread between jobs, it samples the
// process's descriptors, threads, resident memory and heap: growth beyond
// a fixed slack plus a small slack per job is a leak (a channel left
// behind by every job is beyond it, a thread or a descriptor by any job).
//
// The choices replay from --seed (each thread draws from its own stream);
// the machine's timing does not. It prints its figures with the seed and
// exits 1 on any false success, hang or leak, 2 on bad usage or when the
// set-up fails. Linux only (pseudo-terminals, /proc).
//
//   api_soak --pagersim P --library libtarn.so --regsvr R [--seed N]
//            [--seconds S] [--threads T] [--warmup J] [--long-faults] [-v]
//
// --long-faults also draws the faults that keep the host waiting for an
// acknowledgement for up to its full bound (a minute or two each).
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tarnholm/interfaces.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr size_t kMemorySize = 0x10000;
const char* const kSteps[] = {
    "wake",         "header",      "option",        "info",       "records",   "status",
    "password",     "verdict",     "read-data",     "write-data", "first-ack", "second-ack",
    "activate-ack", "command-ack", "command-block", "probe",      "any"};
const char* const kKinds[] = {"silence", "wrong", "drop", "echo", "disconnect"};
const char* const kJobKinds[] = {"identify", "read", "write", "verify", "activate", "commands"};
enum JobKind { kIdentify, kRead, kWrite, kVerify, kActivate, kCommands, kJobKindCount };
const char kPassword[] = "soakpass01";
const char kWrongPassword[] = "wrongpass!";

// The protocol's own bounds, in seconds, as the tarnctl soak has them: a
// silent pager costs the wake-up and a 2 s byte time-out per step; a write
// waits up to 60 s for each acknowledgement, an activation 120 s.
constexpr double kBoundBaseS = 30, kBoundWriteS = 130, kBoundActivateS = 130;

// Leak slack: growth allowed between the two samples, a fixed part (the
// allocator's arenas and caches settle) plus a part per job.
constexpr long kFdSlack = 0, kThreadSlack = 0;
// A leaked channel holds about 450 heap bytes; a leaked thread or
// descriptor shows in its own count.
constexpr long kRssSlackKiB = 1024, kRssSlackPerJobKiB = 1;
constexpr long kHeapSlackBytes = 32 * 1024, kHeapSlackPerJobBytes = 64;

// Under AddressSanitizer freed memory waits in its quarantine and the heap
// is its own allocator's, so the memory figures say nothing about leaks
// there: they are printed but not judged (descriptors and threads still are;
// the sanitizer finds the memory faults itself).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryJudged = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMemoryJudged = false;
#else
constexpr bool kMemoryJudged = true;
#endif
#else
constexpr bool kMemoryJudged = true;
#endif

struct Options {
  std::string pagersim, library, regsvr;
  unsigned long seed = 26;
  double seconds = 60;
  int threads = 4, warmupJobs = 3;
  bool longFaults = false, verbose = false;
};

double NowS() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// ------------------------------------------------------------ the process's usage

struct Usage {
  long fds = 0, threads = 0, rssKiB = 0, heapBytes = 0;
  char fdNames[2048] = {};  // "N -> target" lines; no heap, so as not to count itself
};

void CountFds(Usage* u) {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return void(u->fds = -1);
  size_t used = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || atoi(entry->d_name) == dirfd(dir)) continue;
    ++u->fds;
    char path[320], target[256] = {};
    std::snprintf(path, sizeof path, "/proc/self/fd/%s", entry->d_name);
    if (readlink(path, target, sizeof target - 1) < 0) std::strcpy(target, "?");
    const int n = std::snprintf(u->fdNames + used, sizeof u->fdNames - used, "    %s -> %s\n",
                                entry->d_name, target);
    if (n > 0) used = std::min(sizeof u->fdNames - 1, used + static_cast<size_t>(n));
  }
  closedir(dir);
}

long StatusField(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(name);
  while (std::getline(in, line))
    if (line.compare(0, length, name) == 0 && line.size() > length && line[length] == ':')
      return std::atol(line.c_str() + length + 1);
  return -1;
}

Usage SampleUsage() {
  Usage u;
  CountFds(&u);
  u.threads = StatusField("Threads");
  u.rssKiB = StatusField("VmRSS");
  const struct mallinfo2 info = mallinfo2();
  u.heapBytes = static_cast<long>(info.uordblks + info.hblkhd);
  return u;
}

// ------------------------------------------------------------ one pagersim process

class SimProcess {
 public:
  // Starts pagersim with `args`; false with a message when it does not say
  // where it serves within 10 s.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error);
  // SIGTERM and wait; false when it has not ended within 10 s (then killed).
  bool Stop();
  const std::string& Device() const { return device_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string device_;
};

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args,
                       std::string* error) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return *error = "pipe: " + std::string(strerror(errno)), false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    pid_ = -1;
    return *error = "cannot start " + program + ": " + strerror(rc), false;
  }
  std::string line;
  const double until = NowS() + 10;
  char c = 0;
  while (line.find('\n') == std::string::npos && NowS() < until) {
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (read(out[0], &c, 1) != 1) break;
    line += c;
  }
  close(out[0]);
  const std::string mark = "serving on ";
  const size_t at = line.find(mark);
  if (at == std::string::npos || line.back() != '\n') {
    Stop();
    return *error = "pagersim did not start: '" + line + "'", false;
  }
  device_ = line.substr(at + mark.size(), line.size() - at - mark.size() - 1);
  return true;
}

bool SimProcess::Stop() {
  if (pid_ < 0) return true;
  kill(pid_, SIGTERM);
  const double until = NowS() + 10;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (NowS() > until) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return false;
    }
    usleep(2000);
  }
  pid_ = -1;
  return true;
}

// ------------------------------------------------------------ the figures

class Tally {
 public:
  void Count(std::map<std::string, long>& where, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++where[key];
  }
  void Bad(const char* what, unsigned long seed, int thread, long job, const std::string& detail) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed) return;
    ++bad[what];
    std::printf("%s: thread %d job %ld (seed %lu): %s\n", what, thread, job, seed, detail.c_str());
    std::fflush(stdout);
  }
  // Every key known beforehand, so that the counts do not allocate later.
  Tally() {
    for (const char* kind : kJobKinds) jobs[kind] = 0;
    for (const char* step : kSteps)
      for (const char* kind : kKinds) faults[std::string(step) + ":" + kind] = 0;
    for (int code = -1; code <= 40; ++code) results["error " + std::to_string(code)] = 0;
    results["ok"] = 0;
    results["identity shifted by an echo"] = 0;
    results["read data changed on the line"] = 0;
    for (const char* what : {"false", "hang", "harness"}) bad[what] = 0;
  }
  long BadCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    long n = 0;
    for (const auto& entry : bad) n += entry.second;
    return n;
  }
  std::map<std::string, long> jobs, results, faults, bad;
  std::atomic<bool> closed{false};  // the figures are out: nothing more is counted

 private:
  std::mutex mutex_;
};

// Every thread arrives; the main thread samples, then lets them go on.
class Gate {
 public:
  void ArriveAndWait() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++arrived_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  // True when `count` threads have arrived within `seconds`.
  bool AllArrived(int count, double seconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                             [&] { return arrived_ == count; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int arrived_ = 0;
  bool open_ = false;
};

// ------------------------------------------------------------ one thread's jobs

// One job's choices, all drawn from the thread's stream.
struct Plan {
  JobKind kind = kIdentify;
  std::string fault, faultKind;  // empty: no fault
  int faultByte = -1;            // what a "wrong" fault on read data sends
  bool password = false, rightPassword = true;
  WORD address = 0, length = 0;
  std::vector<BYTE> data;  // write, verify
};

// What the job reported.
struct Outcome {
  bool ok = false;
  LONG code = 0;
  std::vector<BYTE> back;  // read, verify
  BYTE infoId[6] = {};
};

// Faults that leave the host waiting out an acknowledgement's full time-out.
bool LongWait(const std::string& step, const std::string& kind) {
  const bool quiet = kind == "silence" || kind == "drop";
  return quiet && (step == "first-ack" || step == "second-ack" || step == "activate-ack" ||
                   step == "any" || step == "write-data");
}

class Worker {
 public:
  Worker(const Options& options, Tally& tally, int index, const std::string& dir)
      : options_(options),
        tally_(tally),
        index_(index),
        dir_(dir),
        rng_(options.seed * 1000003ul + static_cast<unsigned long>(index)),
        memory_(kMemorySize, 0xFF) {
    char info[32];  // 16 characters: index < 64
    std::snprintf(info, sizeof info, "SOAKPAGER%06d.", index);
    info_ = info;
  }
  void Run(Gate& warm, Gate& end, const std::atomic<bool>& stop);
  // The moment the running job passes its bound; 0 between jobs.
  std::atomic<double> boundS{0};
  std::atomic<long> jobs{0};
  std::atomic<pid_t> simPid{0};  // the running job's pagersim; 0 between jobs
  long job = 0;

 private:
  unsigned Draw(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng_); }
  Plan Choose();
  void RunJob();
  Outcome Execute(const Plan& plan, const std::string& device);
  void Check(const Plan& plan, const Outcome& outcome, const std::vector<BYTE>& after);
  void Bad(const char* what, const Plan& plan, const std::string& detail);

  const Options& options_;
  Tally& tally_;
  const int index_;
  const std::string dir_;
  std::mt19937_64 rng_;
  std::vector<BYTE> memory_;  // what the pager held after the last job
  std::string info_;
};

Plan Worker::Choose() {
  Plan plan;
  plan.kind = static_cast<JobKind>(Draw(kJobKindCount));
  if (Draw(2) == 0) {
    std::string step, kind;
    do {
      step = kSteps[Draw(std::size(kSteps))];
      kind = kKinds[Draw(std::size(kKinds))];
    } while (!options_.longFaults && LongWait(step, kind));
    char byte[8];
    const unsigned value = Draw(256);
    std::snprintf(byte, sizeof byte, "0x%02X", value);
    if (kind == "wrong" && (step == "read-data" || step == "any"))
      plan.faultByte = static_cast<int>(value);
    plan.fault =
        step + ":" + kind + ":" + (kind == "wrong" ? byte : "") + ":" + (Draw(5) == 0 ? "0" : "1");
    plan.faultKind = kind;
    tally_.Count(tally_.faults, step + ":" + kind);
  }
  plan.password = Draw(10) < 3;
  plan.rightPassword = Draw(20) != 0;
  const bool writes = plan.kind == kWrite || plan.kind == kVerify;
  plan.length = static_cast<WORD>(1 + Draw(writes ? 128 : 256));
  plan.address = static_cast<WORD>(Draw(static_cast<unsigned>(kMemorySize - plan.length + 1)));
  if (writes) {
    plan.data.resize(plan.length);
    for (BYTE& b : plan.data) b = static_cast<BYTE>(Draw(256));
  }
  return plan;
}

template <class T>
T* Query(IUnknown* object, REFIID iid) {
  void* p = nullptr;
  return object->QueryInterface(iid, &p) == S_OK ? static_cast<T*>(p) : nullptr;
}

// The job through a fresh object, released before it returns.
Outcome Worker::Execute(const Plan& plan, const std::string& device) {
  Outcome out;
  CLSID clsid;
  void* p = nullptr;
  if (CLSIDFromProgID(OLESTR("BRENTAR.TARN"), &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownloadTransfer, &p) != S_OK) {
    out.code = -1;
    return out;
  }
  auto* transfer = static_cast<IDownloadTransfer*>(p);
  auto* state = Query<IDownloadState>(transfer, IID_IDownloadState);
  auto* commands = Query<IPagerCommands>(transfer, IID_IPagerCommands);
  auto* error = Query<IDownloadError>(transfer, IID_IDownloadError);
  if (state == nullptr || commands == nullptr || error == nullptr) {
    for (IUnknown* i : {static_cast<IUnknown*>(state), static_cast<IUnknown*>(commands),
                        static_cast<IUnknown*>(error)})
      if (i != nullptr) i->Release();
    transfer->Release();
    out.code = -1;
    return out;
  }
  LONG result = E_FAIL, r2 = E_FAIL;
  const std::string settings = "device = " + device + " baud = 9600";
  if (state->SetPortSettings(&result, settings.c_str()) == S_OK && result == S_OK) {
    if (plan.password)
      state->SetPassword(
          reinterpret_cast<const BYTE*>(plan.rightPassword ? kPassword : kWrongPassword));
    switch (plan.kind) {
      case kIdentify:
        out.ok = transfer->Identify() == S_OK && state->GetInfoId(out.infoId) == S_OK;
        break;
      case kRead:
        out.back.assign(plan.length, 0);
        out.ok =
            transfer->ReadMemory(&result, plan.address, out.back.data(), plan.length) == S_OK &&
            result == S_OK;
        break;
      case kWrite:
      case kVerify:
        out.ok =
            transfer->WriteMemory(&result, plan.address, plan.data.data(), plan.length) == S_OK &&
            result == S_OK;
        if (out.ok && plan.kind == kVerify) {
          out.back.assign(plan.length, 0);
          out.ok = transfer->ReadMemory(&r2, plan.address, out.back.data(), plan.length) == S_OK &&
                   r2 == S_OK;
        }
        break;
      case kActivate:
        out.ok = transfer->Activate() == S_OK;
        break;
      default:
        out.ok = commands->BeginCommands() == S_OK && commands->SendCommand13() == S_OK &&
                 commands->SendCommandFF() == S_OK &&
                 commands->SendBytePair(&result, 1, 2) == S_OK && result == S_OK &&
                 commands->SendCommand42(&r2, 0x10) == S_OK && r2 == S_OK;
        out.ok = commands->EndCommands() == S_OK && out.ok;
        break;
    }
  }
  if (!out.ok) error->GetErrorCode(&out.code);
  error->Release();
  commands->Release();
  state->Release();
  transfer->Release();
  CoFreeUnusedLibraries();
  return out;
}

void Worker::Bad(const char* what, const Plan& plan, const std::string& detail) {
  tally_.Bad(what, options_.seed, index_, job,
             std::string(kJobKinds[plan.kind]) +
                 (plan.fault.empty() ? "" : " fault " + plan.fault) +
                 (plan.password ? plan.rightPassword ? " password" : " wrong password" : "") +
                 ": " + detail);
}

// The job's report against the pager's memory after it (`after`) and before
// it (memory_).
void Worker::Check(const Plan& plan, const Outcome& out, const std::vector<BYTE>& after) {
  const bool writes = plan.kind == kWrite || plan.kind == kVerify;
  if (!writes && after != memory_) {
    const auto diff = std::mismatch(after.begin(), after.end(), memory_.begin()).first;
    Bad("false", plan, "the memory changed at " + std::to_string(diff - after.begin()));
  }
  if (!out.ok) return;
  const auto held = after.begin() + plan.address;
  if (writes && !std::equal(plan.data.begin(), plan.data.end(), held))
    Bad("false", plan, "the write reported success; the pager holds other bytes");
  if (!out.back.empty() && !std::equal(out.back.begin(), out.back.end(), held)) {
    // Read data carries no checksum either: a byte the line changed into
    // another reaches the client, and no host can tell. Counted apart when
    // every byte that differs is the fault's byte.
    bool lineChanged = plan.faultByte >= 0;
    for (size_t i = 0; i < out.back.size() && lineChanged; ++i)
      lineChanged = out.back[i] == held[i] || out.back[i] == plan.faultByte;
    if (lineChanged)
      tally_.Count(tally_.results, "read data changed on the line");
    else
      Bad("false", plan, "the read reported success with bytes the pager does not hold");
  }
  if (plan.kind == kIdentify && std::memcmp(out.infoId, info_.data() + 9, 6) != 0) {
    // The answers carry no checksum and come in fixed counts: a line that
    // echoes a host byte shifts them and no host can tell. Counted apart.
    if (plan.faultKind == "echo")
      tally_.Count(tally_.results, "identity shifted by an echo");
    else
      Bad("false", plan, "identify reported another info id");
  }
}

void Worker::RunJob() {
  ++job;
  const Plan plan = Choose();
  const std::string image = dir_ + "/memory.bin", dump = dir_ + "/dump.bin";
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(memory_.data()), kMemorySize);
  }
  std::remove(dump.c_str());
  std::vector<std::string> args{"--fast", "--info", info_, "--image", image, "--dump", dump};
  if (plan.password) args.insert(args.end(), {"--status", "Y", "--password", kPassword});
  if (!plan.fault.empty()) args.insert(args.end(), {"--fault", plan.fault});
  SimProcess sim;
  std::string error;
  if (!sim.Start(options_.pagersim, args, &error)) return Bad("harness", plan, error);
  const bool writes = plan.kind == kWrite || plan.kind == kVerify;
  const double bound =
      kBoundBaseS + (writes ? kBoundWriteS : 0) + (plan.kind == kActivate ? kBoundActivateS : 0);
  const double start = NowS();
  simPid = sim.Pid();
  boundS = start + bound;
  const Outcome out = Execute(plan, sim.Device());
  boundS = 0;
  const double took = NowS() - start;
  if (out.code == -1)
    Bad("harness", plan, "no object by the ProgID, or one without its interfaces");
  if (!sim.Stop()) Bad("hang", plan, "pagersim did not stop");
  simPid = 0;
  std::vector<BYTE> after(kMemorySize);
  std::ifstream in(dump, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(after.data()), kMemorySize))
    return Bad("harness", plan, "pagersim wrote no memory dump");
  tally_.Count(tally_.jobs, kJobKinds[plan.kind]);
  tally_.Count(tally_.results, out.ok ? "ok" : "error " + std::to_string(out.code));
  if (options_.verbose)
    std::printf("thread %d job %ld %s%s%s: %s in %.2f s\n", index_, job, kJobKinds[plan.kind],
                plan.fault.empty() ? "" : (" fault " + plan.fault).c_str(),
                plan.password ? " (password)" : "",
                out.ok ? "ok" : ("error " + std::to_string(out.code)).c_str(), took);
  Check(plan, out, after);
  memory_ = std::move(after);
  ++jobs;
}

void Worker::Run(Gate& warm, Gate& end, const std::atomic<bool>& stop) {
  const bool com = CoInitialize(nullptr) == S_OK;
  if (!com) tally_.Bad("harness", options_.seed, index_, 0, "CoInitialize failed");
  for (int i = 0; com && i < options_.warmupJobs; ++i) RunJob();
  warm.ArriveAndWait();
  while (com && !stop) RunJob();
  end.ArriveAndWait();
  if (com) CoUninitialize();
}

// ------------------------------------------------------------ the run

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--pagersim" && hasValue)
      o->pagersim = argv[++i];
    else if (a == "--library" && hasValue)
      o->library = argv[++i];
    else if (a == "--regsvr" && hasValue)
      o->regsvr = argv[++i];
    else if (a == "--seed" && hasValue)
      o->seed = std::strtoul(argv[++i], nullptr, 0);
    else if (a == "--seconds" && hasValue)
      o->seconds = std::atof(argv[++i]);
    else if (a == "--threads" && hasValue)
      o->threads = std::atoi(argv[++i]);
    else if (a == "--warmup" && hasValue)
      o->warmupJobs = std::atoi(argv[++i]);
    else if (a == "--long-faults")
      o->longFaults = true;
    else if (a == "-v" || a == "--verbose")
      o->verbose = true;
    else
      return std::fprintf(stderr, "api_soak: bad argument '%s'\n", a.c_str()), false;
  }
  if (o->pagersim.empty() || o->library.empty() || o->regsvr.empty() || o->threads < 1 ||
      o->threads > 64 || o->seconds <= 0 || o->warmupJobs < 1) {
    std::fprintf(stderr,
                 "usage: api_soak --pagersim P --library L --regsvr R [--seed N] [--seconds S]\n"
                 "       [--threads 1..64] [--warmup J>=1] [--long-faults] [-v]\n");
    return false;
  }
  return true;
}

// Waits for every thread at a gate, watching the bounds of the jobs in
// flight; false when one has run past its bound (a hang: it cannot be
// joined, so the run ends there).
bool WaitAll(Gate& gate, std::vector<std::unique_ptr<Worker>>& workers, Tally& tally,
             unsigned long seed, double untilS = 0) {
  for (;;) {
    const bool arrived = gate.AllArrived(static_cast<int>(workers.size()), 0.1);
    for (size_t i = 0; i < workers.size(); ++i) {
      const double bound = workers[i]->boundS;
      if (bound != 0 && NowS() > bound) {
        tally.Bad("hang", seed, static_cast<int>(i), workers[i]->jobs + 1,
                  "a job ran past the protocol's bound");
        return false;
      }
    }
    if (arrived || (untilS != 0 && NowS() >= untilS)) return true;
  }
}

// Growth between the two samples beyond the slack; prints both and returns
// the number of leaks.
int ReportUsage(const Usage& a, const Usage& b, long jobs, bool verbose) {
  struct Row {
    const char* what;
    long before, after, slack;
    bool judged;
  };
  const Row rows[] = {
      {"descriptors", a.fds, b.fds, kFdSlack, true},
      {"threads", a.threads, b.threads, kThreadSlack, true},
      {"resident KiB", a.rssKiB, b.rssKiB, kRssSlackKiB + kRssSlackPerJobKiB * jobs, kMemoryJudged},
      {"heap bytes", a.heapBytes, b.heapBytes, kHeapSlackBytes + kHeapSlackPerJobBytes * jobs,
       kMemoryJudged}};
  int leaks = 0;
  for (const Row& r : rows) {
    const bool leak = r.judged && r.after - r.before > r.slack;
    leaks += leak;
    std::printf("  %-13s after warm-up %9ld, at the end %9ld, growth %+8ld (slack %ld)%s\n", r.what,
                r.before, r.after, r.after - r.before, r.slack,
                leak       ? "  LEAK"
                : r.judged ? ""
                           : "  (not judged under AddressSanitizer)");
  }
  if (b.fds != a.fds || verbose)
    std::printf("  descriptors after warm-up:\n%s  at the end:\n%s", a.fdNames, b.fdNames);
  return leaks;
}

void PrintCounts(const char* title, const std::map<std::string, long>& counts) {
  std::printf("  %s:", title);
  for (const auto& [key, n] : counts)
    if (n != 0) std::printf(" %s %ld,", key.c_str(), n);
  std::printf("\n");
}

bool Register(const Options& o, std::string* dir) {
  char pattern[] = "/tmp/apisoakXXXXXX";
  if (mkdtemp(pattern) == nullptr) return false;
  *dir = pattern;
  setenv("COMRT_REGISTRY", (*dir + "/registry").c_str(), 1);
  const std::string cmd = o.regsvr + " " + o.library + " >/dev/null";
  return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Each thread's allocator cache counts as heap in use and fills as it
  // likes: without it the heap figure moves only with what is really held.
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables == nullptr || std::strstr(tunables, "tcache_count=0") == nullptr) {
    setenv("GLIBC_TUNABLES", "glibc.malloc.tcache_count=0", 1);
    execv("/proc/self/exe", argv);
    std::perror("api_soak: execv");
    return 2;
  }
  Options o;
  if (!ParseOptions(argc, argv, &o)) return 2;
  std::string dir;
  if (!Register(o, &dir)) return std::fprintf(stderr, "api_soak: registration failed\n"), 2;
  Tally tally;
  Gate warm, end;
  std::atomic<bool> stop{false};
  std::vector<std::unique_ptr<Worker>> workers;
  std::vector<std::thread> threads;
  const double startS = NowS();
  for (int i = 0; i < o.threads; ++i) {
    const std::string own = dir + "/pager" + std::to_string(i);
    mkdir(own.c_str(), 0700);
    workers.push_back(std::make_unique<Worker>(o, tally, i, own));
  }
  for (auto& w : workers) threads.emplace_back([&, w = w.get()] { w->Run(warm, end, stop); });
  bool fine = WaitAll(warm, workers, tally, o.seed);
  const Usage first = SampleUsage();
  long warmJobs = 0;
  for (auto& w : workers) warmJobs += w->jobs;
  warm.Open();
  fine = fine && WaitAll(end, workers, tally, o.seed, startS + o.seconds);
  stop = true;
  fine = fine && WaitAll(end, workers, tally, o.seed);
  const Usage last = SampleUsage();
  long allJobs = 0;
  for (auto& w : workers) allJobs += w->jobs;
  std::printf("api soak: seed %lu, %d threads, %.0f s, %ld jobs (%ld after warm-up)%s\n", o.seed,
              o.threads, NowS() - startS, allJobs, allJobs - warmJobs,
              o.longFaults ? ", long faults" : "");
  PrintCounts("jobs", tally.jobs);
  PrintCounts("results", tally.results);
  PrintCounts("faults", tally.faults);
  const int leaks = fine ? ReportUsage(first, last, allJobs - warmJobs, o.verbose) : 0;
  const long bad = tally.BadCount();
  std::printf("  false successes %ld, hangs %ld, harness errors %ld, leaks %d (seed %lu)\n",
              tally.bad["false"], tally.bad["hang"], tally.bad["harness"], leaks, o.seed);
  std::fflush(stdout);
  if (!fine) {  // a thread is stuck in a job: it cannot be joined
    tally.closed = true;
    for (auto& w : workers)
      if (const pid_t pid = w->simPid; pid > 0) kill(pid, SIGKILL);
    (void)std::system(("rm -rf " + dir).c_str());
    _exit(1);
  }
  end.Open();
  for (std::thread& t : threads) t.join();
  (void)std::system(("rm -rf " + dir).c_str());
  return bad + leaks > 0 ? 1 : 0;
}
