// The step queue of the progress indicator and its arithmetic, apart from
// the component interfaces: texts arrive here already in narrow form.
//
// The operation is a queue of weighted steps. The bar covers 1 + the sum of
// all weights ever added (Total starts at 1, so a bar whose steps are all
// finished stands one unit short of its end); Completed holds the weights of
// finished steps; the current step is the head of the queue, and progress
// inside it is reported in its own units (SetProgress) or in percent.
// The pending index is the number of queued steps - 1; below -1 it counts
// NextStep calls made with nothing queued, and the steps added while it is
// below -1 count as done at once.
//
// All counters are 32-bit and wrap like the platform's integers do.
#ifndef HOLM_PROGRESS_PROGRESS_QUEUE_H
#define HOLM_PROGRESS_PROGRESS_QUEUE_H

#include <cstdint>
#include <deque>
#include <string>

#include "holm/progress/progress_dlg.h"

namespace holm {

struct ProgressStep {
  std::string Text;
  std::string Caption;
  int32_t Weight = 0;
  uint32_t Progress = 0;  // handled as unsigned
};

class ProgressQueue {
 public:
  // Text shown when the last queued step is done.
  static constexpr const char* kDoneText = "Operation in progress...";

  // Creates the window (hidden) on the current UI backend.
  ProgressQueue();

  // Throws std::bad_alloc before changing anything when memory runs out.
  void AddStep(int32_t weight, std::string text, std::string caption);
  void NextStep();
  void SetProgress(int32_t value);
  void SetProgressPercent(int32_t percent);
  void Show() { dialog_.Show(); }
  void Hide() { dialog_.Hide(); }

  int32_t PendingIndex() const { return pending_; }
  int32_t Total() const { return total_; }
  int32_t Completed() const { return completed_; }
  const std::deque<ProgressStep>& Steps() const { return steps_; }
  const CProgressDlg& Dialog() const { return dialog_; }

  // percent x weight / 100 in 64 bits, to the nearest integer, halves away
  // from zero, then taken as a 32-bit value.
  static int32_t PercentOf(int32_t percent, int32_t weight);

 private:
  void UpdateTexts();

  CProgressDlg dialog_;
  int32_t pending_ = -1;
  int32_t total_ = 1;
  int32_t completed_ = 0;
  std::deque<ProgressStep> steps_;
};

}  // namespace holm

#endif  // HOLM_PROGRESS_PROGRESS_QUEUE_H
