// Pagers per hour, in real time: tarnctl (the executable, as a shop runs
// it) against pagersim processes that emulate a 9600-baud line.
//
//   bench_throughput fleet     1, 2, 4 and 8 pagers writing a 4 KiB image at
//                              once: wall time against one pager, and
//                              tarnctl's CPU time per pager
//   bench_throughput scale     1, 8, 16, 32 and 64 pagers writing a 2 KiB
//                              image at once: the same figures (a fleet
//                              should take no longer than one pager)
//   bench_throughput changed   --changed-only on 4 KiB and 32 KiB images with
//                              0 %, 1 % (in one and in four runs), 10 % (four
//                              runs) and 100 % of the bytes changed,
//                              against a full write with verify
//   bench_throughput changed 4096   one size only
//   bench_throughput trace     a 2 KiB write with verify through ser2net on
//                              loopback, with and without --trace (three
//                              of each, alternating): what the trace of a
//                              remote line costs in wall and CPU time
//
// Each measurement starts fresh simulators. A benchmark, not a test: it
// prints figures and takes minutes (the protocol's pauses are real time).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "components.h"
#include "image.h"
#include "network_serial_server.h"
#include "sim.h"

namespace {

std::string g_dir;

struct Run {
  double wallS = 0, cpuS = 0;
  int exitCode = -1;
};

// Runs tarnctl with the arguments, its output into a file.
Run Tarnctl(const std::vector<std::string>& args) {
  std::fflush(stdout);  // the child must not print the parent's buffer again
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    FILE* out = std::freopen((g_dir + "/tarnctl.out").c_str(), "a", stdout);
    if (out) dup2(fileno(stdout), 2);
    std::vector<std::string> all = {TARNCTL_EXE, "--no-window", "-q"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : all) argv.push_back(s.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.cpuS = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// CPU time of every child reaped so far, in seconds.
double ChildrenCpuS() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
         usage.ru_stime.tv_usec / 1e6;
}

std::vector<BYTE> Pattern(uint32_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<BYTE> data(size);
  for (BYTE& b : data) b = static_cast<BYTE>(random());
  return data;
}

std::string Save(const std::string& name, const std::vector<BYTE>& data) {
  std::string path = g_dir + "/" + name;
  tarnctl::SaveImage(path, "benchmark image", 0x1000, data.data(),
                     static_cast<uint32_t>(data.size()), "bench");
  return path;
}

struct Sims {
  std::vector<std::unique_ptr<tarnctl::SimulatedPager>> pagers;
  std::vector<std::string> PortArgs() const {
    std::vector<std::string> args;
    for (const auto& p : pagers) {
      args.push_back("--port");
      args.push_back("device = " + p->Device() + " baud = 9600");
    }
    return args;
  }
};

Sims StartSims(int n, const std::string& image) {
  Sims sims;
  for (int i = 0; i < n; ++i) {
    std::vector<std::string> args = {"--baud", "9600"};
    if (!image.empty()) args.insert(args.end(), {"--image", image});
    sims.pagers.push_back(tarnctl::SimulatedPager::Start(args));
  }
  return sims;
}

// One fleet write of `size` bytes for each count of pagers.
void Fleet(uint32_t size, const std::vector<int>& counts) {
  std::string file = Save("fleet.s19", Pattern(size, 1));
  std::printf("fleet: %u KiB image, write with verify, 9600 baud line emulation\n", size / 1024);
  std::printf("%7s %10s %12s %14s %14s %7s\n", "pagers", "wall s", "vs 1 pager", "CPU % per pager",
              "sim CPU % each", "exit");
  double one = 0;
  for (int n : counts) {
    // The simulators' CPU time: what the children reaped in between, less tarnctl's.
    const double childrenBefore = ChildrenCpuS();
    Run r;
    {
      Sims sims = StartSims(n, "");
      std::vector<std::string> args = {"write", file};
      for (const std::string& a : sims.PortArgs()) args.push_back(a);
      r = Tarnctl(args);
    }
    const double simCpuS = ChildrenCpuS() - childrenBefore - r.cpuS;
    if (n == 1) one = r.wallS;
    std::printf("%7d %10.1f %12.3f %14.3f %14.3f %7d\n", n, r.wallS, r.wallS / one,
                100.0 * r.cpuS / r.wallS / n, 100.0 * simCpuS / r.wallS / n, r.exitCode);
    std::fflush(stdout);
  }
}

// The file with `percent` of its bytes changed against `base`, in a few
// runs spread evenly over the image (all of it at 100 %).
std::vector<BYTE> Changed(const std::vector<BYTE>& base, int percent, int clusters) {
  std::vector<BYTE> data = base;
  uint32_t size = static_cast<uint32_t>(base.size());
  uint32_t changed = size * percent / 100;
  if (percent == 0) clusters = 0;
  for (int c = 0; c < clusters; ++c) {
    uint32_t len = changed / clusters, start = size / clusters * c + size / clusters / 3;
    if (percent == 100) start = 0;
    for (uint32_t a = start; a < start + len && a < size; ++a) data[a] ^= 0x5A;
  }
  return data;
}

void ChangedOnly(uint32_t size) {
  std::vector<BYTE> held = Pattern(size, 2);
  std::string heldFile = Save("held.s19", held);
  std::printf("changed-only: %u-byte image, 9600 baud line emulation\n", size);
  Sims sims = StartSims(1, heldFile);
  Run full = Tarnctl({"write", heldFile, sims.PortArgs()[0], sims.PortArgs()[1]});
  std::printf("  full write with verify: %.1f s (exit %d)\n", full.wallS, full.exitCode);
  std::printf("%9s %6s %10s %10s %7s\n", "changed", "runs", "wall s", "speed-up", "exit");
  struct Case {
    int percent, clusters;
  };
  for (Case c : {Case{0, 0}, Case{1, 1}, Case{1, 4}, Case{10, 4}, Case{100, 1}}) {
    int percent = c.percent;
    std::string file = Save("new.s19", Changed(held, percent, c.clusters));
    Sims fresh = StartSims(1, heldFile);
    std::vector<std::string> args = {"write", file, "--changed-only"};
    for (const std::string& a : fresh.PortArgs()) args.push_back(a);
    Run r = Tarnctl(args);
    std::printf("%8d%% %6d %10.1f %9.2fx %7d\n", percent, c.clusters, r.wallS, full.wallS / r.wallS,
                r.exitCode);
    std::fflush(stdout);
  }
}

// The same write to one pager behind ser2net, traced and not.
void TraceCost() {
  std::string file = Save("trace.s19", Pattern(2048, 3));
  std::printf("trace of a remote line: 2 KiB write with verify through ser2net, 9600 baud\n");
  std::printf("%9s %10s %10s %7s\n", "--trace", "wall s", "CPU s", "exit");
  double wall[2] = {0, 0}, cpu[2] = {0, 0};
  for (int round = 0; round < 6; ++round) {
    const int traced = round % 2;
    Sims sims = StartSims(1, "");
    testsupport::NetworkSerialServer server(testsupport::NetworkSerialServer::Kind::kSer2net,
                                            sims.pagers[0]->Device());
    if (!server.Ok()) {
      std::fprintf(stderr, "ser2net: %s\n", server.Error().c_str());
      return;
    }
    std::vector<std::string> args = {"write", file, "--port",
                                     "device = " + server.Url() + " baud = 9600"};
    if (traced) args.insert(args.end(), {"--trace", g_dir + "/trace.txt"});
    Run r = Tarnctl(args);
    wall[traced] += r.wallS / 3;
    cpu[traced] += r.cpuS / 3;
    std::printf("%9s %10.2f %10.3f %7d\n", traced ? "yes" : "no", r.wallS, r.cpuS, r.exitCode);
    std::fflush(stdout);
  }
  std::printf("mean: wall %.2f s -> %.2f s (%+.1f %%), CPU %.3f s -> %.3f s (%+.3f s)\n", wall[0],
              wall[1], 100.0 * (wall[1] - wall[0]) / wall[0], cpu[0], cpu[1], cpu[1] - cpu[0]);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode != "fleet" && mode != "scale" && mode != "changed" && mode != "trace") {
    std::fprintf(stderr, "usage: bench_throughput fleet | scale | changed [SIZE] | trace\n");
    return 1;
  }
  char dir[] = "/tmp/bench-throughputXXXXXX";
  if (!mkdtemp(dir)) return 1;
  g_dir = dir;
  setenv("COMRT_REGISTRY", (g_dir + "/registry").c_str(), 1);
  setenv("TARNCTL_PAGERSIM", PAGERSIM_EXE, 1);
  tarnctl::Runtime runtime;  // SaveImage uses the S19 component
  if (Tarnctl({"register"}).exitCode != 0) {
    std::fprintf(stderr, "tarnctl register failed (see %s/tarnctl.out)\n", dir);
    return 1;
  }
  if (mode == "fleet") Fleet(4096, {1, 2, 4, 8});
  if (mode == "scale") Fleet(2048, {1, 8, 16, 32, 64});
  if (mode == "trace") TraceCost();
  if (mode == "changed") {
    if (argc > 2) {
      ChangedOnly(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0)));
    } else {
      ChangedOnly(4096);
      ChangedOnly(32768);
    }
  }
  std::printf("(tarnctl output in %s/tarnctl.out)\n", dir);
  return 0;
}
