#include "progress.h"

#include <cstdio>

#include "bstr_text.h"
#include "components.h"

namespace tarnctl {
namespace {

std::string Capitalized(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

std::string Range(const Block& b) {
  char text[64];
  std::snprintf(text, sizeof text, "0x%04X-0x%04X (%u bytes)", static_cast<unsigned>(b.address),
                static_cast<unsigned>(b.address + b.length - (b.length ? 1 : 0)),
                static_cast<unsigned>(b.length));
  return text;
}

}  // namespace

std::vector<LONG> StepWeights(const std::vector<Block>& blocks) {
  unsigned long long total = 0;
  for (const Block& b : blocks) total += b.length;
  std::vector<LONG> weights;
  for (const Block& b : blocks) {
    unsigned long long w = total ? (b.length * 1000ull + total / 2) / total : 0;
    weights.push_back(static_cast<LONG>(w < 1 ? 1 : w));
  }
  return weights;
}

TransferProgress::TransferProgress(IDownloadState* state, const OutputMode& mode, const char* verb,
                                   const std::vector<Block>& blocks)
    : state_(state), mode_(mode), verb_(verb), blocks_(blocks) {
  indicator_ = Create<IProgressIndicator>(HOLM_PROGID_PROGRESS, IID_IProgressIndicator);
  std::vector<LONG> weights = StepWeights(blocks);
  for (size_t i = 0; i < blocks.size(); ++i) {
    std::string text = Capitalized(verb_) + " " + Range(blocks[i]);
    std::string caption = "tarnctl " + verb_ + " (block " + std::to_string(i + 1) + " of " +
                          std::to_string(blocks.size()) + ")";
    // The indicator takes ownership of both strings.
    indicator_->AddStep(weights[i], ToBstr(text), ToBstr(caption));
  }
  if (!mode_.window && !mode_.quiet && verb_ == "write") {
    // Without the window nothing moves while the pager takes a block.
    std::fprintf(mode_.linesToStderr ? stderr : stdout,
                 "write: %zu block(s); the pager acknowledges each within 60 s at most\n",
                 blocks.size());
    std::fflush(mode_.linesToStderr ? stderr : stdout);
  }
  interrupts_ = std::make_unique<InterruptGuard>(mode_.window && !mode_.quiet);
  interrupts_->SetPosition(Undone(verb, blocks, 0));
  // Attached only while its window is shown: the download server pauses
  // 200 ms after every progress report, which buys nothing when no one sees it.
  if (mode_.window && !mode_.quiet) {
    indicator_->Show();
    shown_ = true;
    state_->AttachProgress(indicator_.Get());
  }
}

TransferProgress::~TransferProgress() {
  if (!shown_) return;
  state_->AttachProgress(nullptr);
  indicator_->Hide();
}

std::string TransferProgress::Undone(const char* verb, const std::vector<Block>& blocks,
                                     size_t index) {
  if (index >= blocks.size()) return std::string(verb) + ": all blocks done";
  const Block& b = blocks[index];
  const Block& last = blocks.back();
  char text[256];
  std::snprintf(text, sizeof text,
                "%s stopped in block %zu of %zu at 0x%04X; 0x%04X-0x%04X (blocks %zu to %zu) "
                "left undone%s",
                verb, index + 1, blocks.size(), static_cast<unsigned>(b.address),
                static_cast<unsigned>(b.address),
                static_cast<unsigned>(last.address + last.length - 1), index + 1, blocks.size(),
                std::string(verb) == "write" ? " (the block under way may be partly written)" : "");
  return text;
}

void TransferProgress::BlockDone(size_t index, double ms, bool ok) {
  indicator_->NextStep();
  interrupts_->SetPosition(Undone(verb_.c_str(), blocks_, index + 1));
  if (shown_ && interrupts_->TakeRedraw()) {
    // Back from a stop: the window is drawn anew.
    indicator_->Hide();
    indicator_->Show();
  }
  if (mode_.window || mode_.quiet) return;
  std::fprintf(mode_.linesToStderr ? stderr : stdout, "%s block %zu/%zu %s %s, %.1f s\n",
               verb_.c_str(), index + 1, blocks_.size(), Range(blocks_[index]).c_str(),
               ok ? "ok" : "differs", ms / 1000.0);
  std::fflush(mode_.linesToStderr ? stderr : stdout);
}

}  // namespace tarnctl
