#include "tarn/protocol/pager_protocol.h"

#include <chrono>
#include <cstring>

#include "tarn/protocol/frame_steps.h"

namespace tarn {

using namespace wire;

namespace {

// 100 ns intervals between 1 January 1601 and 1 January 1970.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

// The four bytes of a number, least significant first.
void PutLittleEndian(uint8_t* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

uint64_t CPagerProtocol::SystemUtcTicks(void*) {
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  auto ticks = std::chrono::duration_cast<std::chrono::duration<int64_t, std::ratio<1, 10000000>>>(
                   since_epoch)
                   .count();
  return kUnixEpochTicks + static_cast<uint64_t>(ticks);
}

CPagerProtocol::CPagerProtocol(CSerialChannel* ch) : channel(ch) {
  SetDeadline(kNoDeadlineMs);
}

CPagerProtocol::~CPagerProtocol() = default;

CSerialChannel& CPagerProtocol::Channel() {
  if (channel == nullptr) throw NoChannelError();
  return *channel;
}

int32_t CPagerProtocol::Record(StepResult outcome) {
  if (!outcome.Ok()) lastError = outcome.error;
  return outcome.result;
}

// ---------------------------------------------------------------- deadline

void CPagerProtocol::SetDeadline(uint32_t milliseconds) {
  if (milliseconds == kNoDeadlineMs) {
    deadline = kNoDeadline;
    return;
  }
  deadline = clock_(clockContext_) + static_cast<uint64_t>(milliseconds) * 10000u;
}

void CPagerProtocol::CheckDeadline() {
  if (clock_(clockContext_) > deadline) throw CTarnTimeout();
}

void CPagerProtocol::SetClock(UtcClock clock, void* context) {
  clock_ = clock != nullptr ? clock : &SystemUtcTicks;
  clockContext_ = clock != nullptr ? context : nullptr;
}

// ---------------------------------------------------------------- fields

void CPagerProtocol::SetPassword(const uint8_t* password10) {
  if (password10 == nullptr) throw std::invalid_argument("null password");
  std::memcpy(password, password10, kRecordLength);
  passwordGiven = 1;
}

void CPagerProtocol::ClearPassword() {
  passwordGiven = 0;
}

void CPagerProtocol::CopyInfoId(uint8_t* out6) const {
  if (out6 == nullptr) throw std::invalid_argument("null buffer");
  std::memcpy(out6, infoBlock + 9, 6);
}

// ---------------------------------------------------------------- memory operations

StepResult CPagerProtocol::RunFramed(uint8_t flags, uint8_t command, uint16_t param1,
                                     uint16_t length, const AfterTransaction& after) {
  frameFlags = flags;
  frameCommand = command;
  frameParam1 = param1;
  frameParam2 = 0;
  frameLength = length;
  FrameSteps steps(*this);
  if (steps.OpenPort() != 0) return Failed(kErrorCantOpenPort);
  StepResult outcome = steps.RunTransaction();
  if (outcome.Ok() && after) outcome = after(steps);
  if (steps.ClosePort() != 0) return Failed(kErrorCantClosePort);
  return outcome;
}

int32_t CPagerProtocol::DoIdentify() {
  return Record(RunFramed(kFlagsIdentify, kCommandRead, 0, 0, nullptr));
}

int32_t CPagerProtocol::DoReadMemory(uint16_t address, uint8_t* buffer, uint16_t length) {
  // A missing buffer is refused before anything goes on the wire.
  if (length > 0 && buffer == nullptr) throw std::invalid_argument("null read buffer");
  transferBuffer = buffer;
  return Record(RunFramed(kFlagsTransfer, kCommandRead, address, length,
                          [](FrameSteps& steps) { return steps.ReceiveDataBlock(); }));
}

int32_t CPagerProtocol::DoWriteMemory(uint16_t address, const uint8_t* data, uint16_t length) {
  if (length > 0 && data == nullptr) throw std::invalid_argument("null write data");
  transferBuffer = const_cast<uint8_t*>(data);  // only read from by a write
  return Record(
      RunFramed(kFlagsTransfer, kCommandWrite, address, length, [this](FrameSteps& steps) {
        StepResult block = steps.SendDataBlock();
        if (!block.Ok()) return block;
        return WaitWriteDone(steps);
      }));
}

int32_t CPagerProtocol::DoActivate() {
  return Record(RunFramed(kFlagsTransfer, kCommandActivate, 0, 0,
                          [this](FrameSteps& steps) { return WaitActivateDone(steps); }));
}

StepResult CPagerProtocol::WaitWriteDone(FrameSteps& steps) {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kWriteAckTimeoutMs);
  uint8_t ack = 0;
  if (steps.ReceiveByte(ack) != 0 || ack != kAcknowledge) {
    ch.SetTimeout(saved);
    return Failed(kErrorSendingData);
  }
  // The pager stores the block meanwhile: about 4.9 ms per byte in all,
  // spread over 50 steps that carry progress from 45 to 94 percent.
  const uint32_t pause = static_cast<uint32_t>(frameLength) * 1000u / 10240u;
  for (int32_t percent = 45; percent <= 94; ++percent) {
    if (progressSink != nullptr) progressSink->SetProgressPercent(percent);
    ch.Delay(pause);
  }
  uint8_t second_ack = 0;
  if (steps.ReceiveByte(second_ack) != 0 || second_ack != kAcknowledge) {
    ch.SetTimeout(saved);
    return Failed(kErrorSendingData);
  }
  ch.SetTimeout(saved);
  ch.Delay(kWriteSettleMs);
  return kStepOk;
}

StepResult CPagerProtocol::WaitActivateDone(FrameSteps& steps) {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kActivateTimeoutMs);
  uint8_t activated = 0;
  if (steps.ReceiveByte(activated) != 0 || activated != kAcknowledge) {
    ch.SetTimeout(saved);
    return Failed(kErrorSendingData);
  }
  ch.SetTimeout(saved);
  // The re-identification is a complete operation of its own inside the
  // activation: its OpenPort finds the port open (a no-op) and its ClosePort
  // closes it, so the activation's own ClosePort then finds it closed.
  return RunFramed(kFlagsReidentify, kCommandRead, 0, 0, nullptr);
}

// ---------------------------------------------------------------- command mode

StepResult CPagerProtocol::BeginCommands() {
  frameFlags = kFlagsCommandMode;
  frameCommand = kCommandEnterCommands;
  frameParam1 = 0;
  frameParam2 = 0;
  frameLength = 0;
  FrameSteps steps(*this);
  if (steps.OpenPort() != 0) return Failed(kErrorCantOpenPort);
  // No pause after the header and no answer but the '.'. The port stays open
  // whatever the outcome, for the commands that follow.
  if (StepResult wake = steps.WakeUp(); !wake.Ok()) return wake;
  if (StepResult header = steps.SendHeader(); !header.Ok()) return header;
  return steps.WaitCommandAck();
}

int32_t CPagerProtocol::DoBeginCommands() {
  return Record(BeginCommands());
}

StepResult CPagerProtocol::SendSingleCommand(uint8_t code) {
  FrameSteps steps(*this);
  if (steps.SendByte(code) != 0) return Failed(kErrorComPort);
  return steps.WaitCommandAck();
}

int32_t CPagerProtocol::DoSendCommand13() {
  return Record(SendSingleCommand(kCommand13));
}

int32_t CPagerProtocol::DoSendCommandFF() {
  return Record(SendSingleCommand(kCommandFF));
}

int32_t CPagerProtocol::DoSendCommandFFRepeat() {
  return Record(SendSingleCommand(kCommandFF));
}

int32_t CPagerProtocol::DoSendBytePair(int32_t first, int32_t second) {
  StepResult first_answer = SendSingleCommand(static_cast<uint8_t>(first));
  if (!first_answer.Ok()) return Record(first_answer);
  return Record(SendSingleCommand(static_cast<uint8_t>(second)));
}

StepResult CPagerProtocol::SendParameterCommand(uint8_t code, const uint8_t* block,
                                                uint16_t length) {
  FrameSteps steps(*this);
  if (steps.SendByte(code) != 0) return Failed(kErrorComPort);
  // The block and its checksum follow the command byte at once.
  std::memcpy(paramBlock, block, length);
  frameLength = length;
  transferBuffer = paramBlock;
  StepResult sent = steps.SendDataBlock();
  if (!sent.Ok()) return sent;
  return steps.WaitCommandAck();
}

// Parameter blocks: 0x42, 0x40 and 0x46 carry little-endian numbers; 0xAE
// carries the address as two big-endian halves, low half first, then a
// big-endian value.
int32_t CPagerProtocol::DoSendCommand42(int32_t value) {
  uint8_t block[4];
  PutLittleEndian(block, static_cast<uint32_t>(value));
  return Record(SendParameterCommand(kCommand42, block, 4));
}

int32_t CPagerProtocol::DoSendCommandAE(int32_t address, uint16_t value) {
  const uint32_t a = static_cast<uint32_t>(address);
  const uint8_t block[6] = {static_cast<uint8_t>(a >> 8),     static_cast<uint8_t>(a),
                            static_cast<uint8_t>(a >> 24),    static_cast<uint8_t>(a >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return Record(SendParameterCommand(kCommandAE, block, 6));
}

int32_t CPagerProtocol::DoSendCommand40(int32_t address, uint16_t value) {
  uint8_t block[6];
  PutLittleEndian(block, static_cast<uint32_t>(address));
  block[4] = static_cast<uint8_t>(value);
  block[5] = static_cast<uint8_t>(value >> 8);
  return Record(SendParameterCommand(kCommand40, block, 6));
}

int32_t CPagerProtocol::DoSendCommand46(int32_t address, int32_t count) {
  uint8_t block[8];
  PutLittleEndian(block, static_cast<uint32_t>(address));
  PutLittleEndian(block + 4, static_cast<uint32_t>(count));
  return Record(SendParameterCommand(kCommand46, block, 8));
}

StepResult CPagerProtocol::EndCommands() {
  FrameSteps steps(*this);
  if (steps.SendByte(kCommandLeave) != 0) return Failed(kErrorComPort);  // the port stays open
  StepResult left = steps.WaitCommandAck();
  (void)steps.ClosePort();  // closed whatever the answer; a close failure is not reported here
  return left;
}

int32_t CPagerProtocol::DoEndCommands() {
  return Record(EndCommands());
}

StepResult CPagerProtocol::ProbeAndClose() {
  // A port left open by command mode counts as opened; closing it below ends
  // command mode.
  FrameSteps steps(*this);
  if (steps.OpenPort() != 0) return Failed(kErrorCantOpenPort);
  StepResult probe = steps.SendProbe();
  if (steps.ClosePort() != 0) return Failed(kErrorCantClosePort);
  return probe;
}

int32_t CPagerProtocol::DoSendCommand0B() {
  return Record(ProbeAndClose());
}

}  // namespace tarn
