// Host cost of the pager protocol: full 65535-byte writes and reads and
// identifies against the simulated pager in virtual time. The simulated line
// costs nothing, so the wall time is the protocol's own work per byte (plus
// the simulator's); it is printed beside the virtual time the protocol spends
// in its required pauses and timeouts. A benchmark, not a test.
//
//   bench_protocol [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "tarn/protocol/pager_protocol.h"
#include "tools/pagersim/sim_link.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Figures {
  double seconds = 1e30;   // best wall time of the runs
  uint64_t virtualMs = 0;  // virtual line time of one run
  int32_t result = 0;
};

// Best of `runs`, each on a fresh link, so one busy moment does not decide it.
Figures Measure(int runs, const std::function<int32_t(tarn::CPagerProtocol&)>& job) {
  Figures figures;
  for (int i = 0; i < runs; ++i) {
    pagersim::SimLink link;
    link.SetTimeout(100);
    link.SetEchoCancel(true);
    tarn::CPagerProtocol proto(&link);
    auto start = Clock::now();
    figures.result = job(proto);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.seconds = std::min(figures.seconds, seconds);
    figures.virtualMs = link.NowMs();
  }
  return figures;
}

void Report(const char* what, uint32_t bytes, const Figures& f) {
  std::printf("%-28s result %-11d host %9.3f ms", what, f.result, f.seconds * 1000);
  if (bytes > 0) std::printf("  %7.1f ns/byte", f.seconds * 1e9 / bytes);
  std::printf("  line (virtual) %9.1f s\n", f.virtualMs / 1000.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::vector<uint8_t> image(65535);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 31 + 7);
  std::vector<uint8_t> back(65535);

  std::printf("pager protocol against the simulated pager, best of %d runs\n", runs);
  Report("identify", 0, Measure(runs, [](tarn::CPagerProtocol& p) { return p.DoIdentify(); }));
  Report("write 65535 bytes", 65535, Measure(runs, [&](tarn::CPagerProtocol& p) {
           return p.DoWriteMemory(0, image.data(), 65535);
         }));
  Report("read 65535 bytes", 65535, Measure(runs, [&](tarn::CPagerProtocol& p) {
           return p.DoReadMemory(0, back.data(), 65535);
         }));
  Report("16 commands in command mode", 0, Measure(runs, [](tarn::CPagerProtocol& p) {
           int32_t result = p.DoBeginCommands();
           for (int i = 0; i < 4 && result == tarn::kResultOk; ++i) {
             result = p.DoSendCommand13();
             if (result == tarn::kResultOk) result = p.DoSendCommand42(i);
             if (result == tarn::kResultOk) result = p.DoSendCommandAE(i, 1);
             if (result == tarn::kResultOk) result = p.DoSendCommand46(i, 2);
           }
           int32_t end = p.DoEndCommands();
           return result != tarn::kResultOk ? result : end;
         }));
  return 0;
}
