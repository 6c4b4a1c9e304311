#include "write_plan.h"

namespace tarnctl {
namespace {

constexpr double kWakeMs = 100 + 100;  // after the wake byte, after the answer
constexpr double kHeaderPauseMs = 5;
constexpr double kPasswordPauseMs = 5;
constexpr double kProgressPauseMs = 200;
constexpr double kSettleMs = 3000;
constexpr uint32_t kProgressEvery = 512;

double ByteMs(const LineCosts& c) {
  return 10000.0 / (c.baud ? c.baud : 9600);
}

// Wake-up to verdict: wake byte and answer, header, 16 info bytes, 20 record
// bytes, the status, the password if asked, the verdict.
double TransactionMs(const LineCosts& c) {
  uint32_t bytes = 2 + 8 + 16 + 20 + 1 + (c.passwordAsked ? 10 : 0) + 1;
  return kWakeMs + kHeaderPauseMs + kPasswordPauseMs + bytes * ByteMs(c);
}

}  // namespace

double WriteBlockMs(uint32_t n, const LineCosts& c) {
  double ms = TransactionMs(c) + (n + 1) * ByteMs(c);                 // data and checksum
  if (c.progress) ms += (n / kProgressEvery + 1) * kProgressPauseMs;  // i = 0, 512, .. <= n
  uint32_t pace = (n * 1000) / 10240;
  return ms + 2 * ByteMs(c) + 50.0 * pace + kSettleMs;
}

double ReadBlockMs(uint32_t n, const LineCosts& c) {
  double ms = TransactionMs(c) + n * ByteMs(c);
  if (c.progress) ms += ((n + kProgressEvery - 1) / kProgressEvery) * kProgressPauseMs;
  return ms;
}

namespace {

double BlockMs(uint32_t n, bool verify, const LineCosts& c) {
  return WriteBlockMs(n, c) + (verify ? ReadBlockMs(n, c) : 0);
}

struct Run {
  uint32_t begin, end;  // [begin, end)
};

std::vector<Run> DifferingRuns(const std::vector<BYTE>& file, const std::vector<BYTE>& pager,
                               const std::vector<bool>& covered) {
  std::vector<Run> runs;
  for (uint32_t a = 0; a < 0x10000; ++a) {
    if (!covered[a] || file[a] == pager[a]) continue;
    if (!runs.empty() && runs.back().end == a)
      runs.back().end = a + 1;
    else
      runs.push_back({a, a + 1});
  }
  return runs;
}

bool AllCovered(const std::vector<bool>& covered, uint32_t begin, uint32_t end) {
  for (uint32_t a = begin; a < end; ++a)
    if (!covered[a]) return false;
  return true;
}

}  // namespace

WritePlan PlanWrites(const std::vector<BYTE>& file, const std::vector<BYTE>& pager,
                     const std::vector<bool>& covered, uint32_t maxBlock, bool verify,
                     const LineCosts& costs) {
  if (maxBlock == 0 || maxBlock > 65535) maxBlock = 65535;
  WritePlan plan;
  std::vector<Run> merged;
  for (const Run& r : DifferingRuns(file, pager, covered)) {
    plan.differingBytes += r.end - r.begin;
    if (!merged.empty()) {
      Run& last = merged.back();
      uint32_t lastLen = last.end - last.begin, len = r.end - r.begin, whole = r.end - last.begin;
      // A run longer than a block is split anyway; bridging only pays
      // inside one block.
      if (whole <= maxBlock && AllCovered(covered, last.end, r.begin) &&
          BlockMs(whole, verify, costs) <=
              BlockMs(lastLen, verify, costs) + BlockMs(len, verify, costs)) {
        last.end = r.end;
        continue;
      }
    }
    merged.push_back(r);
  }
  for (const Run& r : merged)
    for (const Block& b : SplitBlocks(r.begin, r.end - r.begin, maxBlock)) {
      plan.writes.push_back(b);
      plan.writeBytes += b.length;
      plan.estimateMs += BlockMs(b.length, verify, costs);
    }
  uint32_t coveredBytes = 0;
  for (bool c : covered) coveredBytes += c ? 1 : 0;
  plan.skippedBytes = coveredBytes - plan.writeBytes;
  return plan;
}

}  // namespace tarnctl
