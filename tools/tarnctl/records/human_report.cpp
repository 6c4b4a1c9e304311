#include "human_report.h"

#include <cstdio>

namespace tarnctl {

std::string WroteText(uint32_t bytes, size_t blocks, double writeS, bool verified, double verifyS) {
  char t[160];
  std::snprintf(t, sizeof t, "wrote %u bytes in %zu block(s) in %.1f s", bytes, blocks, writeS);
  std::string s = t;
  if (!verified) return s + ", not verified";
  std::snprintf(t, sizeof t, ", verified in %.1f s", verifyS);
  return s + t;
}

std::string VerifiedText(uint32_t bytes, size_t blocks, double verifyS) {
  char t[160];
  std::snprintf(t, sizeof t,
                "verified %u bytes in %zu block(s) in %.1f s: the pager holds the file", bytes,
                blocks, verifyS);
  return t;
}

std::string HumanReport(const JobRecord& r) {
  char t[512];
  std::string s;
  if (r.planned) {
    std::snprintf(t, sizeof t,
                  "plan: %u block(s) to write, %u bytes of the file skipped; estimate %.1f s\n",
                  r.plannedBlocks, r.skippedBytes, r.estimateS);
    s += t;
    if (!r.plan.empty()) s += "plan: writes " + RangesText(r.plan) + "\n";
  }
  if (r.result == "ok" && r.dryRun) return s + "dry run: nothing written";
  if (r.result != "ok") return s + r.result + ": " + r.errorText;
  if (r.command == "write" && !r.changedOnly) {
    s += WroteText(r.writtenBytes, r.writtenBlocks, r.writeS, r.readBlocks > 0, r.verifyS);
  } else if (r.command == "write") {
    std::snprintf(t, sizeof t,
                  "read %u bytes in %u block(s), wrote %u bytes in %u block(s); read %.1f s, "
                  "write %.1f s, verify %.1f s",
                  r.readBytes, r.readBlocks, r.writtenBytes, r.writtenBlocks, r.readS, r.writeS,
                  r.verifyS);
    s += t;
    if (r.changedOnly) {
      std::snprintf(t, sizeof t, " (write and verify %.1f s against the estimate %.1f s)",
                    r.writeS + r.verifyS, r.estimateS);
      s += t;
    }
    if (r.changedOnly && r.writtenBlocks == 0) s += "\nthe pager already holds the file";
  } else if (r.command == "verify") {
    s += VerifiedText(r.readBytes, r.readBlocks, r.verifyS);
  } else {
    s += r.command + " ok: pager " + r.infoId + ", type " + r.pagerType + ", status " + r.status;
  }
  return s;
}

}  // namespace tarnctl
