#include "tools/pagersim/sim_link.h"

#include <cstdio>

namespace pagersim {

const char* ToString(CallKind kind) {
  switch (kind) {
    case CallKind::kInitialize:
      return "Initialize";
    case CallKind::kOpen:
      return "Open";
    case CallKind::kClose:
      return "Close";
    case CallKind::kSetSettings:
      return "SetSettings";
    case CallKind::kSetTimeout:
      return "SetTimeout";
    case CallKind::kDelay:
      return "Delay";
    case CallKind::kPurgeInput:
      return "PurgeInput";
    case CallKind::kPurgeOutput:
      return "PurgeOutput";
    case CallKind::kSetEchoCancel:
      return "SetEchoCancel";
    case CallKind::kWrite:
      return "W";
    case CallKind::kRead:
      return "R";
  }
  return "?";
}

SimLink::SimLink(PagerConfig config) : pager_(std::move(config)) {}

void SimLink::Advance(uint64_t ms) {
  nowUs_ += ms * 1000;
  Pump();
}

void SimLink::Enter(CallKind kind, uint32_t value) {
  calls_.push_back({kind, value, nowUs_, 0});
  for (size_t i = 0; i < failures_.size(); ++i) {
    FailRule& rule = failures_[i];
    if (rule.kind != kind) continue;
    if (rule.remaining == 0) Fail(rule.code);
    if (--rule.remaining == 0) {
      const int32_t code = rule.code;
      failures_.erase(failures_.begin() + static_cast<std::ptrdiff_t>(i));
      Fail(code);
    }
  }
}

void SimLink::Fail(int32_t code) {
  calls_.back().failure = code;
  throw tarn::GeneralException(code);
}

void SimLink::FailOn(CallKind kind, int32_t code, unsigned occurrence) {
  failures_.push_back({kind, code, occurrence});
}

void SimLink::Pump() {
  for (uint8_t b : pager_.Pull(nowUs_)) rx_.push_back(b);
}

void SimLink::Initialize() {
  Enter(CallKind::kInitialize, 0);
  CSerialChannel::Initialize();
}

void SimLink::Open() {
  Enter(CallKind::kOpen, 0);
  if (IsOpen()) return;
  CSerialChannel::Open();
  // Opening a port discards whatever was on the line before.
  Pump();
  rx_.clear();
}

void SimLink::Close() {
  Enter(CallKind::kClose, 0);
  if (!IsOpen()) return;
  CSerialChannel::Close();
  Pump();
  rx_.clear();
  pager_.LineDropped(nowUs_);
}

void SimLink::SetSettings(const char* text) {
  Enter(CallKind::kSetSettings, 0);
  CSerialChannel::SetSettings(text);
}

uint32_t SimLink::SetTimeout(uint32_t milliseconds) {
  Enter(CallKind::kSetTimeout, milliseconds);
  return CSerialChannel::SetTimeout(milliseconds);
}

void SimLink::Delay(uint32_t milliseconds) {
  Enter(CallKind::kDelay, milliseconds);
  nowUs_ += uint64_t{milliseconds} * 1000;
  Pump();
}

bool SimLink::SetEchoCancel(bool on) {
  Enter(CallKind::kSetEchoCancel, on ? 1 : 0);
  return CSerialChannel::SetEchoCancel(on);
}

void SimLink::PurgeInput() {
  Enter(CallKind::kPurgeInput, 0);
  Pump();
  rx_.clear();
}

void SimLink::PurgeOutput() {
  Enter(CallKind::kPurgeOutput, 0);
}

void SimLink::PutByte(uint8_t byte) {
  Enter(CallKind::kWrite, byte);
  if (pager_.Disconnected()) Fail(tarn::kChannelWriteFailed);
  Pump();
  pager_.Receive(byte, nowUs_);
  nowUs_ += byteTimeUs_;
  Pump();
  CancelEcho();
}

uint8_t SimLink::GetByte() {
  Enter(CallKind::kRead, 0);
  Pump();
  // Bytes put on the line before a cut still arrive; then reads fail.
  if (rx_.empty() && pager_.Disconnected()) Fail(tarn::kChannelReadFailed);
  if (rx_.empty()) {
    const uint64_t deadline = nowUs_ + uint64_t{GetTimeout()} * 1000;
    const auto next = pager_.NextOutputTime();
    if (next && *next <= deadline) {
      nowUs_ = std::max(nowUs_, *next);
      Pump();
    } else {
      nowUs_ = deadline;
      Pump();
      rx_.clear();  // nothing can have arrived, but keep the line honest
      Fail(tarn::kChannelReadTimeout);
    }
  }
  const uint8_t byte = rx_.front();
  rx_.pop_front();
  calls_.back().value = byte;
  return byte;
}

std::string SimLink::Trace() const {
  std::string text;
  char item[40];
  for (const auto& call : calls_) {
    if (!text.empty()) text += ' ';
    switch (call.kind) {
      case CallKind::kSetTimeout:
      case CallKind::kDelay:
      case CallKind::kSetEchoCancel:
        std::snprintf(item, sizeof item, "%s(%u)", ToString(call.kind), call.value);
        break;
      case CallKind::kWrite:
        std::snprintf(item, sizeof item, "W:%02X", call.value);
        break;
      case CallKind::kRead:
        if (call.failure != 0)
          std::snprintf(item, sizeof item, "R!%d", call.failure);
        else
          std::snprintf(item, sizeof item, "R:%02X", call.value);
        break;
      default:
        std::snprintf(item, sizeof item, "%s", ToString(call.kind));
        break;
    }
    text += item;
    if (call.failure != 0 && call.kind != CallKind::kRead) {
      std::snprintf(item, sizeof item, "!%d", call.failure);
      text += item;
    }
  }
  return text;
}

uint64_t SimLink::TotalDelayMs() const {
  uint64_t total = 0;
  for (const auto& call : calls_)
    if (call.kind == CallKind::kDelay && call.failure == 0) total += call.value;
  return total;
}

std::vector<uint32_t> SimLink::Delays() const {
  std::vector<uint32_t> delays;
  for (const auto& call : calls_)
    if (call.kind == CallKind::kDelay && call.failure == 0) delays.push_back(call.value);
  return delays;
}

std::vector<uint8_t> SimLink::Written() const {
  std::vector<uint8_t> bytes;
  for (const auto& call : calls_)
    if (call.kind == CallKind::kWrite && call.failure == 0)
      bytes.push_back(static_cast<uint8_t>(call.value));
  return bytes;
}

std::vector<uint8_t> SimLink::ReadBytes() const {
  std::vector<uint8_t> bytes;
  for (const auto& call : calls_)
    if (call.kind == CallKind::kRead && call.failure == 0)
      bytes.push_back(static_cast<uint8_t>(call.value));
  return bytes;
}

}  // namespace pagersim
