#include "holm/progress/progress_queue.h"

#include <algorithm>

namespace holm {
namespace {

int32_t Wrap(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}
int32_t Add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

ProgressQueue::ProgressQueue() = default;

int32_t ProgressQueue::PercentOf(int32_t percent, int32_t weight) {
  const int64_t product = static_cast<int64_t>(percent) * weight;
  int64_t q = product / 100;
  const int64_t r = product % 100;  // same sign as product
  if (r >= 50) ++q;
  if (r <= -50) --q;
  return Wrap(q);
}

void ProgressQueue::AddStep(int32_t weight, std::string text, std::string caption) {
  const int32_t index = Add(pending_, 1);
  if (index >= 0) {
    // Queue first: if that runs out of memory nothing has changed.
    ProgressStep step;
    step.Text = std::move(text);
    step.Caption = std::move(caption);
    step.Weight = weight;
    steps_.push_back(std::move(step));
  } else {
    // Added while NextStep ran ahead: the step counts as already done.
    completed_ = Add(completed_, weight);
  }
  pending_ = index;
  total_ = Add(total_, weight);
  dialog_.SetRange(0, total_);
  UpdateTexts();
}

void ProgressQueue::NextStep() {
  if (pending_ >= 0 && !steps_.empty()) {
    completed_ = Add(completed_, steps_.front().Weight);
    steps_.pop_front();
    dialog_.SetPos(completed_);
  }
  pending_ = Add(pending_, -1);
  if (pending_ >= -1) UpdateTexts();
}

void ProgressQueue::SetProgress(int32_t value) {
  if (steps_.empty()) return;
  ProgressStep& head = steps_.front();
  // Both comparisons are unsigned: a negative value completes the step.
  uint32_t p = std::max(head.Progress, static_cast<uint32_t>(value));
  p = std::min(p, static_cast<uint32_t>(head.Weight));
  head.Progress = p;
  dialog_.SetPos(Add(completed_, static_cast<int32_t>(p)));
}

void ProgressQueue::SetProgressPercent(int32_t percent) {
  if (steps_.empty()) return;
  SetProgress(PercentOf(percent, steps_.front().Weight));
}

void ProgressQueue::UpdateTexts() {
  if (!steps_.empty()) {
    const ProgressStep& head = steps_.front();
    if (!head.Caption.empty()) dialog_.SetCaption(head.Caption);
    if (!head.Text.empty()) dialog_.SetText(head.Text);
  } else if (pending_ == -1) {
    dialog_.SetText(kDoneText);
  }
}

}  // namespace holm
