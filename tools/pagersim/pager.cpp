#include "tools/pagersim/pager.h"

#include <algorithm>
#include <cstdio>

namespace pagersim {

namespace {

struct StepName {
  Step step;
  const char* name;
};
constexpr StepName kStepNames[] = {
    {Step::kAny, "any"},
    {Step::kWakeAnswer, "wake"},
    {Step::kHeader, "header"},
    {Step::kOptionByte, "option"},
    {Step::kInfoBlock, "info"},
    {Step::kRecords, "records"},
    {Step::kStatus, "status"},
    {Step::kPassword, "password"},
    {Step::kVerdict, "verdict"},
    {Step::kReadData, "read-data"},
    {Step::kWriteData, "write-data"},
    {Step::kFirstAck, "first-ack"},
    {Step::kSecondAck, "second-ack"},
    {Step::kActivateAck, "activate-ack"},
    {Step::kCommandAck, "command-ack"},
    {Step::kCommandBlock, "command-block"},
    {Step::kProbeAnswer, "probe"},
};

struct KindName {
  FaultKind kind;
  const char* name;
};
constexpr KindName kKindNames[] = {
    {FaultKind::kSilence, "silence"},       {FaultKind::kWrongByte, "wrong"},
    {FaultKind::kDropByte, "drop"},         {FaultKind::kEcho, "echo"},
    {FaultKind::kDisconnect, "disconnect"},
};

bool IsOutputFault(FaultKind kind) {
  return kind == FaultKind::kSilence || kind == FaultKind::kWrongByte ||
         kind == FaultKind::kDropByte || kind == FaultKind::kDisconnect;
}
bool IsEchoFault(FaultKind kind) {
  return kind == FaultKind::kEcho;
}
bool IsInputFault(FaultKind kind) {
  return IsOutputFault(kind);
}

bool IsInputStep(Step step) {
  return step == Step::kHeader || step == Step::kPassword || step == Step::kWriteData ||
         step == Step::kCommandBlock;
}

std::string Hex(unsigned value, int digits = 2) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

size_t BlockLength(uint8_t command) {
  switch (command) {
    case 0x42:
      return 4;
    case 0xAE:
    case 0x40:
      return 6;
    case 0x46:
      return 8;
    default:
      return 0;
  }
}

uint8_t Sum(const uint8_t* data, size_t n) {
  unsigned sum = 0;
  for (size_t i = 0; i < n; ++i) sum += data[i];
  return static_cast<uint8_t>(sum);
}

}  // namespace

const char* ToString(Step step) {
  for (const auto& entry : kStepNames)
    if (entry.step == step) return entry.name;
  return "?";
}

const char* ToString(FaultKind kind) {
  for (const auto& entry : kKindNames)
    if (entry.kind == kind) return entry.name;
  return "?";
}

const char* ToString(ViolationKind kind) {
  switch (kind) {
    case ViolationKind::kBadChecksum:
      return "bad checksum";
    case ViolationKind::kUnknownCommand:
      return "unknown command";
    case ViolationKind::kWrongHeader:
      return "wrong header";
    case ViolationKind::kTruncatedHeader:
      return "truncated header";
    case ViolationKind::kTruncatedData:
      return "truncated data";
    case ViolationKind::kUnexpectedByte:
      return "unexpected byte";
  }
  return "?";
}

std::optional<Step> StepFromString(const std::string& name) {
  for (const auto& entry : kStepNames)
    if (name == entry.name) return entry.step;
  return std::nullopt;
}

std::optional<FaultKind> FaultKindFromString(const std::string& name) {
  for (const auto& entry : kKindNames)
    if (name == entry.name) return entry.kind;
  return std::nullopt;
}

Pager::Pager(PagerConfig config) : config_(std::move(config)) {
  memory_.fill(0xFF);
}

bool Pager::HasViolation(ViolationKind kind) const {
  return std::any_of(violations_.begin(), violations_.end(),
                     [kind](const Violation& v) { return v.kind == kind; });
}

void Pager::Violate(ViolationKind kind, std::string detail, uint64_t nowUs) {
  violations_.push_back({nowUs, kind, std::move(detail)});
}

Fault* Pager::FindFault(Step step, bool (*kindFilter)(FaultKind)) {
  for (auto& fault : config_.faults) {
    if (fault.count < 0 || !kindFilter(fault.kind)) continue;
    // "Any" corrupts output steps and echoes every byte, but does not rewrite
    // or drop the host's own bytes.
    bool anyMatches =
        fault.step == Step::kAny && (!IsInputStep(step) || fault.kind == FaultKind::kEcho ||
                                     fault.kind == FaultKind::kDisconnect);
    if (fault.step != step && !anyMatches) continue;
    if (fault.count > 0 && --fault.count == 0) fault.count = -1;
    return &fault;
  }
  return nullptr;
}

bool Pager::Emit(Step step, std::vector<uint8_t> bytes, uint64_t readyUs) {
  if (disconnected_ || stopped_) return false;
  if (Fault* fault = FindFault(step, IsOutputFault)) {
    switch (fault->kind) {
      case FaultKind::kSilence:
        return false;
      case FaultKind::kDisconnect:
        disconnected_ = true;
        return false;
      case FaultKind::kWrongByte:
        if (!bytes.empty()) bytes[0] = fault->byte;
        break;
      case FaultKind::kDropByte:
        if (!bytes.empty()) bytes.erase(bytes.begin());
        break;
      case FaultKind::kEcho:
        break;
    }
  }
  for (uint8_t b : bytes) {
    uint64_t at = std::max(readyUs, lastOutputUs_);
    output_.push_back({b, at});
    lastOutputUs_ = at;
  }
  return true;
}

Step Pager::InputStep() const {
  switch (state_) {
    case State::kIdle:
    case State::kAwake:
      return Step::kWakeAnswer;  // refined by the caller for headers and probes
    case State::kHeader:
      return Step::kHeader;
    case State::kPassword:
      return Step::kPassword;
    case State::kWriteData:
      return Step::kWriteData;
    case State::kCommandMode:
      return Step::kCommandAck;
    case State::kCommandBlock:
      return Step::kCommandBlock;
  }
  return Step::kAny;
}

size_t Pager::ExpectedBlockLength(uint8_t command) const {
  return BlockLength(command);
}

bool Pager::CountDataByte() {
  if (!config_.stopAfterDataBytes) return true;
  if (dataBytes_ >= *config_.stopAfterDataBytes) {
    stopped_ = true;
    return false;
  }
  ++dataBytes_;
  return true;
}

void Pager::Tick(uint64_t nowUs) {
  const uint64_t limit = uint64_t{config_.hostByteTimeoutMs} * 1000;
  const uint64_t since = std::max(lastInputUs_, lastOutputUs_);
  if (nowUs <= since + limit) return;
  const uint64_t at = since + limit;
  switch (state_) {
    case State::kAwake:
      ToIdle();  // woken but no header followed: go back to sleep
      break;
    case State::kHeader:
      Violate(ViolationKind::kTruncatedHeader,
              "header stopped after " + std::to_string(buffer_.size()) + " of 8 bytes", at);
      ToIdle();
      break;
    case State::kPassword:
    case State::kWriteData:
    case State::kCommandBlock:
      Violate(ViolationKind::kTruncatedData,
              std::string(state_ == State::kPassword    ? "password"
                          : state_ == State::kWriteData ? "write block"
                                                        : "parameter block") +
                  " stopped after " + std::to_string(buffer_.size()) + " of " +
                  std::to_string(expected_) + " bytes",
              at);
      state_ = state_ == State::kCommandBlock ? State::kCommandMode : State::kIdle;
      break;
    default:
      break;
  }
}

std::optional<uint64_t> Pager::NextDeadline() const {
  switch (state_) {
    case State::kAwake:
    case State::kHeader:
    case State::kPassword:
    case State::kWriteData:
    case State::kCommandBlock:
      return std::max(lastInputUs_, lastOutputUs_) + uint64_t{config_.hostByteTimeoutMs} * 1000 + 1;
    default:
      return std::nullopt;
  }
}

std::vector<uint8_t> Pager::Pull(uint64_t nowUs) {
  Tick(nowUs);
  std::vector<uint8_t> bytes;
  while (!output_.empty() && output_.front().readyUs <= nowUs) {
    transcript_.push_back({output_.front().readyUs, Direction::kPagerToHost, output_.front().byte});
    bytes.push_back(output_.front().byte);
    output_.pop_front();
  }
  return bytes;
}

std::optional<uint64_t> Pager::NextOutputTime() const {
  if (output_.empty()) return std::nullopt;
  return output_.front().readyUs;
}

void Pager::LineDropped(uint64_t nowUs) {
  Tick(nowUs);
  switch (state_) {
    case State::kHeader:
      Violate(ViolationKind::kTruncatedHeader,
              "line closed after " + std::to_string(buffer_.size()) + " of 8 header bytes", nowUs);
      break;
    case State::kPassword:
    case State::kWriteData:
    case State::kCommandBlock:
      Violate(ViolationKind::kTruncatedData,
              "line closed after " + std::to_string(buffer_.size()) + " of " +
                  std::to_string(expected_) + " bytes",
              nowUs);
      break;
    default:
      break;
  }
  // The pager notices the loss of the line and goes back to sleep, also out
  // of command mode, so a host that crashed does not leave it stuck there.
  ToIdle();
  output_.clear();
}

void Pager::Receive(uint8_t byte, uint64_t nowUs) {
  Tick(nowUs);
  transcript_.push_back({nowUs, Direction::kHostToPager, byte});
  if (disconnected_ || stopped_) return;
  lastInputUs_ = nowUs;

  Step step = InputStep();
  const bool firstOfStep = (state_ == State::kAwake && byte != kWakeByte) ||
                           ((state_ == State::kPassword || state_ == State::kWriteData ||
                             state_ == State::kCommandBlock) &&
                            buffer_.empty());
  if (state_ == State::kAwake && byte != kWakeByte) step = Step::kHeader;
  if (state_ == State::kIdle && byte == kProbeByte) step = Step::kProbeAnswer;

  if (FindFault(step, IsEchoFault)) {
    uint64_t at = std::max(nowUs, lastOutputUs_);
    output_.push_back({byte, at});
    lastOutputUs_ = at;
  }
  if (firstOfStep) {
    silenceAfterInput_ = false;
    if (Fault* fault = FindFault(step, IsInputFault)) {
      switch (fault->kind) {
        case FaultKind::kSilence:
          silenceAfterInput_ = true;
          break;
        case FaultKind::kDisconnect:
          disconnected_ = true;
          return;
        case FaultKind::kWrongByte:
          byte = fault->byte;
          break;
        case FaultKind::kDropByte:
          return;  // lost on the line
        case FaultKind::kEcho:
          break;
      }
    }
  }
  Handle(byte, nowUs);
}

void Pager::Handle(uint8_t byte, uint64_t nowUs) {
  switch (state_) {
    case State::kIdle:
      if (!output_.empty() && output_.back().readyUs > nowUs) {
        Violate(ViolationKind::kUnexpectedByte, Hex(byte) + " while the pager was still answering",
                nowUs);
        return;
      }
      if (byte == kWakeByte) {
        ++stats_.wakeBytes;
        if (++wakesSeen_ <= config_.ignoreWakes) return;
        state_ = Emit(Step::kWakeAnswer, {config_.pagerType}, nowUs) ? State::kAwake : State::kIdle;
        wakeAnswerUs_ = lastOutputUs_;
      } else if (byte == kProbeByte) {
        ++stats_.probes;
        Emit(Step::kProbeAnswer, {config_.probeAnswer}, nowUs);
      } else {
        Violate(ViolationKind::kUnexpectedByte, Hex(byte) + " outside a transaction", nowUs);
      }
      return;
    case State::kAwake:
      if (byte == kWakeByte) {
        // Already answered: a further wake byte of the same wake-up (the
        // host's retry sent before our answer reached it, or read after the
        // line's echo of its own wake byte) gets no second answer, which the
        // host would read as the first byte of the answers. It does not keep
        // the pager awake either: a host that lost the answer is heard again
        // once the pager has gone back to sleep.
        ++stats_.wakeBytes;
        lastInputUs_ = wakeAnswerUs_;
        return;
      }
      buffer_.assign(1, byte);
      expected_ = 8;
      state_ = State::kHeader;
      return;
    case State::kHeader:
      buffer_.push_back(byte);
      if (buffer_.size() == 8) OnHeader(nowUs);
      return;
    case State::kPassword:
      buffer_.push_back(byte);
      if (buffer_.size() == 10) AfterPassword(nowUs);
      return;
    case State::kWriteData:
      if (!CountDataByte()) return;
      buffer_.push_back(byte);
      if (buffer_.size() == expected_) OnWriteBlock(nowUs);
      return;
    case State::kCommandMode:
      if (size_t n = ExpectedBlockLength(byte); n != 0) {
        blockCommand_ = byte;
        buffer_.clear();
        expected_ = n + 1;
        state_ = State::kCommandBlock;
        return;
      }
      commands_.push_back({byte, {}, true});
      Emit(Step::kCommandAck, {kCommandAck}, nowUs);
      if (byte == kLeaveCommandMode) ToIdle();
      return;
    case State::kCommandBlock:
      buffer_.push_back(byte);
      if (buffer_.size() == expected_) OnCommandBlock(nowUs);
      return;
  }
}

void Pager::OnHeader(uint64_t nowUs) {
  flags_ = buffer_[0];
  command_ = buffer_[1];
  address_ = static_cast<uint16_t>(buffer_[2] << 8 | buffer_[3]);
  const unsigned param2 = static_cast<unsigned>(buffer_[4] << 8 | buffer_[5]);
  length_ = static_cast<uint16_t>(buffer_[6] << 8 | buffer_[7]);
  ToIdle();
  if (silenceAfterInput_) {
    silenceAfterInput_ = false;
    return;
  }
  if ((flags_ & 0x80) == 0) {
    Violate(ViolationKind::kWrongHeader, "flags " + Hex(flags_) + " without 0x80", nowUs);
    return;
  }
  if (command_ != 1 && command_ != 2 && command_ != 9 && command_ != 12) {
    Violate(ViolationKind::kUnknownCommand, "header command " + Hex(command_), nowUs);
    return;
  }
  if (param2 != 0) Violate(ViolationKind::kWrongHeader, "parameter 2 is " + Hex(param2, 4), nowUs);
  ++stats_.transactions;

  if (command_ == 9) {
    if (Emit(Step::kCommandAck, {kCommandAck}, nowUs)) state_ = State::kCommandMode;
    return;
  }
  const PagerIdentity& id = config_.identity;
  if ((flags_ & 0x20) && !Emit(Step::kOptionByte, {config_.optionByte}, nowUs)) return;
  if ((flags_ & 0x04) &&
      !Emit(Step::kInfoBlock, std::vector<uint8_t>(id.infoBlock.begin(), id.infoBlock.end()),
            nowUs))
    return;
  if (flags_ & 0x02) {
    std::vector<uint8_t> records(id.firstRecord.begin(), id.firstRecord.end());
    records.insert(records.end(), id.secondRecord.begin(), id.secondRecord.end());
    if (!Emit(Step::kRecords, std::move(records), nowUs)) return;
  }
  const uint8_t status = id.status;
  if (!Emit(Step::kStatus, {status}, nowUs)) return;
  if (status == 'D') return;  // disabled: the transaction ends here
  if (flags_ & 0x01) {
    StartData(nowUs);
    return;
  }
  if (status == 'Y') {
    buffer_.clear();
    expected_ = 10;
    state_ = State::kPassword;
    return;
  }
  if (Emit(Step::kVerdict, {kVerdictAccepted}, nowUs)) StartData(nowUs);
}

void Pager::AfterPassword(uint64_t nowUs) {
  ToIdle();
  if (silenceAfterInput_) {
    silenceAfterInput_ = false;
    return;
  }
  if (!std::equal(buffer_.begin(), buffer_.end(), config_.password.begin())) {
    ++stats_.refusals;
    Emit(Step::kVerdict, {config_.refusalByte}, nowUs);
    return;
  }
  if (Emit(Step::kVerdict, {kVerdictAccepted}, nowUs)) StartData(nowUs);
}

void Pager::StartData(uint64_t nowUs) {
  switch (command_) {
    case 1: {
      ++stats_.reads;
      std::vector<uint8_t> bytes;
      bytes.reserve(length_);
      for (unsigned i = 0; i < length_ && CountDataByte(); ++i)
        bytes.push_back(memory_[(address_ + i) & 0xFFFF]);
      // The bytes allowed before the limit still go out.
      const bool stop = stopped_;
      stopped_ = false;
      Emit(Step::kReadData, std::move(bytes), nowUs);
      stopped_ = stop;
      return;
    }
    case 2:
      buffer_.clear();
      expected_ = size_t{length_} + 1;
      state_ = State::kWriteData;
      return;
    case 12:
      ++stats_.activations;
      if (Emit(Step::kActivateAck, {kAck}, nowUs + uint64_t{config_.activateDelayMs} * 1000) &&
          config_.identityAfterActivate) {
        config_.identity = *config_.identityAfterActivate;
      }
      return;
    default:
      return;
  }
}

void Pager::OnWriteBlock(uint64_t nowUs) {
  ToIdle();
  if (silenceAfterInput_) {
    silenceAfterInput_ = false;
    return;
  }
  const uint8_t expected = Sum(buffer_.data(), length_);
  if (buffer_[length_] != expected) {
    Violate(ViolationKind::kBadChecksum,
            "write block of " + std::to_string(length_) + " bytes at " + Hex(address_, 4) +
                ": checksum " + Hex(buffer_[length_]) + ", expected " + Hex(expected),
            nowUs);
    Emit(Step::kFirstAck, {config_.nakByte}, nowUs);
    return;
  }
  for (unsigned i = 0; i < length_; ++i) memory_[(address_ + i) & 0xFFFF] = buffer_[i];
  ++stats_.writes;
  if (!Emit(Step::kFirstAck, {kAck}, nowUs)) return;
  // The host waits 50 pauses of length*1000/10240 ms between the two
  // acknowledgements; the pager uses that time to program its memory.
  const uint64_t pauseUs =
      config_.fastWriteAck ? 0 : uint64_t{50} * (uint64_t{length_} * 1000 / 10240) * 1000;
  Emit(Step::kSecondAck, {kAck}, lastOutputUs_ + pauseUs);
}

void Pager::OnCommandBlock(uint64_t nowUs) {
  state_ = State::kCommandMode;
  const size_t n = expected_ - 1;
  const bool ok = Sum(buffer_.data(), n) == buffer_[n];
  commands_.push_back(
      {blockCommand_, std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + n), ok});
  if (silenceAfterInput_) {
    silenceAfterInput_ = false;
    return;
  }
  if (!ok) {
    Violate(ViolationKind::kBadChecksum,
            "parameter block of command " + Hex(blockCommand_) + ": checksum " + Hex(buffer_[n]) +
                ", expected " + Hex(Sum(buffer_.data(), n)),
            nowUs);
    Emit(Step::kCommandAck, {config_.nakByte}, nowUs);
    return;
  }
  Emit(Step::kCommandAck, {kCommandAck}, nowUs);
}

std::string Pager::TranscriptText() const {
  std::string text;
  char line[96];
  for (const auto& entry : transcript_) {
    std::snprintf(line, sizeof line, "%12.3f ms  %s  %02X\n", entry.timeUs / 1000.0,
                  entry.direction == Direction::kHostToPager ? "host->pager" : "pager->host",
                  entry.byte);
    text += line;
  }
  for (const auto& v : violations_) {
    std::snprintf(line, sizeof line, "%12.3f ms  violation: %s: ", v.timeUs / 1000.0,
                  ToString(v.kind));
    text += line;
    text += v.detail;
    text += '\n';
  }
  return text;
}

}  // namespace pagersim
