// The progress of a transfer: Holm's Progress object ("Brenlow.PROGRESSER")
// with one step per block, weighted by the block's size, attached to
// CDownload for the percentages inside a block. At a terminal its window is
// shown for the length of the job; without one it is not attached (so the
// server makes no progress pauses) and one plain line per block goes to
// standard output (none with --quiet). While it lives, an interruption
// restores the terminal and says which block was reached (interrupt.h).
#ifndef TARNCTL_PROGRESS_H
#define TARNCTL_PROGRESS_H

#include <tarnholm/interfaces.h>

#include <memory>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "interrupt.h"
#include "pager.h"

namespace tarnctl {

// Step weights for blocks: proportional to their sizes and scaled so that
// the bar's total stays far below the 16 bits its control takes; every
// block weighs at least 1.
std::vector<LONG> StepWeights(const std::vector<Block>& blocks);

class TransferProgress {
 public:
  // verb: "read", "write" or "verify", used in the step texts and lines.
  TransferProgress(IDownloadState* state, const OutputMode& mode, const char* verb,
                   const std::vector<Block>& blocks);
  ~TransferProgress();  // detaches and hides
  TransferProgress(const TransferProgress&) = delete;
  TransferProgress& operator=(const TransferProgress&) = delete;

  // A block ended after `ms` milliseconds; `ok` false when its bytes differ
  // from the file (verify), which the line then says.
  void BlockDone(size_t index, double ms, bool ok = true);

  // What an interruption now leaves undone, from block `index` on.
  static std::string Undone(const char* verb, const std::vector<Block>& blocks, size_t index);

 private:
  IDownloadState* state_;
  OutputMode mode_;
  std::string verb_;
  std::vector<Block> blocks_;
  ComPtr<IProgressIndicator> indicator_;
  bool shown_ = false;
  std::unique_ptr<InterruptGuard> interrupts_;
};

}  // namespace tarnctl

#endif  // TARNCTL_PROGRESS_H
