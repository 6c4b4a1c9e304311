#include "tarn/protocol/pager_protocol.h"

#include <chrono>
#include <cstring>

namespace tarn {

namespace {

// 100 ns intervals between 1 January 1601 and 1 January 1970.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

// A caught channel failure must never read as success, even from a channel
// that raises code 0.
int32_t FailureCode(const GeneralException& e) {
  int32_t code = e.GetCode();
  return code != 0 ? code : kChannelControlFailed;
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

// ---------------------------------------------------------------- primitives

int32_t CPagerProtocol::OpenPort() {
  CSerialChannel& ch = Channel();
  try {
    ch.Open();
  } catch (const GeneralException& e) {
    return FailureCode(e);
  }
  return 0;
}

int32_t CPagerProtocol::ClosePort() {
  CSerialChannel& ch = Channel();
  try {
    ch.Close();
  } catch (const GeneralException& e) {
    return FailureCode(e);
  }
  return 0;
}

int32_t CPagerProtocol::SendByte(uint8_t byte) {
  CSerialChannel& ch = Channel();
  int32_t rc = 0;
  try {
    ch.WriteByte(byte);
  } catch (const GeneralException& e) {
    rc = FailureCode(e);
  }
  CheckDeadline();
  return rc;
}

int32_t CPagerProtocol::ReceiveByte(uint8_t& byte) {
  CSerialChannel& ch = Channel();
  int32_t rc = 0;
  try {
    byte = ch.ReadByte();
  } catch (const GeneralException& e) {
    rc = FailureCode(e);
  }
  CheckDeadline();
  return rc;
}

void CPagerProtocol::AddToChecksum(const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) checksum = static_cast<uint8_t>(checksum + data[i]);
}

// ---------------------------------------------------------------- transaction steps

int32_t CPagerProtocol::WakeUp() {
  CSerialChannel& ch = Channel();
  ch.PurgeInput();
  ch.PurgeOutput();
  ch.SetTimeout(kWakeTimeoutMs);
  // Echo cancelling stays off from here on: the protocol skips the line's
  // echo of the wake byte itself.
  ch.SetEchoCancel(false);
  bool answered = false;
  for (uint32_t attempt = 0; attempt < kWakeAttempts && !answered; ++attempt) {
    int32_t sent = SendByte(kWakeByte);
    ch.Delay(kWakePauseMs);
    if (sent != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
    uint8_t answer = 0;
    int32_t received = ReceiveByte(answer);
    if (received == kChannelReadTimeout) continue;  // silence: next attempt
    if (received != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
    if (answer == kWakeByte) continue;  // the line's echo of our own byte
    if (answer != kSupportedPagerType) {
      pagerType = 0;
      lastError = kErrorUnsupportedPager;
      return kResultFail;
    }
    pagerType = answer;
    answered = true;
  }
  ch.Delay(kWakePauseMs);
  ch.SetTimeout(kTransactionTimeoutMs);
  if (!answered) {
    lastError = kErrorNoAnswer;
    return kResultFail;
  }
  return kResultOk;
}

int32_t CPagerProtocol::SendHeader() {
  stream.Clear();
  stream.Append(&frameFlags, 1);
  stream.Append(&frameCommand, 1);
  for (uint16_t word : {frameParam1, frameParam2, frameLength}) {
    const uint8_t little_endian[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    stream.AppendReversed(little_endian, 2);
  }
  const uint32_t n = stream.Position();
  for (uint32_t i = 0; i < n; ++i) {
    if (SendByte(stream.Data()[i]) != 0) {
      lastError = kErrorPagerDisabled;
      return kResultFail;
    }
  }
  return kResultOk;
}

int32_t CPagerProtocol::ReceiveAnswer(uint8_t* out, uint32_t n) {
  stream.Clear();
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t byte = 0;
    if (ReceiveByte(byte) != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
    stream.Append(&byte, 1);
  }
  stream.Seek(0);
  stream.Read(out, n);
  return kResultOk;
}

int32_t CPagerProtocol::ReceiveOptionByte() {
  if (!(frameFlags & kFlagOptionByte)) return kResultOk;
  return ReceiveAnswer(&optionByte, 1);
}

int32_t CPagerProtocol::ReceiveInfoBlock() {
  if (!(frameFlags & kFlagInfoBlock)) return kResultOk;
  int32_t result = ReceiveAnswer(infoBlock, kInfoBlockLength);
  if (result == kResultOk) infoLastByte = infoBlock[kInfoBlockLength - 1];
  return result;
}

int32_t CPagerProtocol::ReceiveRecords() {
  if (!(frameFlags & kFlagRecords)) return kResultOk;
  uint8_t both[2 * kRecordLength];
  int32_t result = ReceiveAnswer(both, sizeof both);
  if (result != kResultOk) return result;
  std::memcpy(firstRecord, both, kRecordLength);
  std::memcpy(secondRecord, both + kRecordLength, kRecordLength);
  return kResultOk;
}

int32_t CPagerProtocol::ReceiveStatus() {
  int32_t result = ReceiveAnswer(&statusChar, 1);
  if (result != kResultOk) return result;
  if (statusChar == kStatusDisabled) {
    lastError = kErrorPagerDisabled;
    return kResultFalse;
  }
  statusOk = statusChar == kStatusOk ? 1 : 0;
  return kResultOk;
}

int32_t CPagerProtocol::SendPassword() {
  if ((frameFlags & kFlagNoPassword) || statusChar != kStatusPassword) return kResultOk;
  // The bytes go out as they stand, set by the client or not.
  for (uint32_t i = 0; i < kRecordLength; ++i) {
    if (SendByte(password[i]) != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
  }
  return kResultOk;
}

int32_t CPagerProtocol::ReceiveVerdict() {
  if ((frameFlags & kFlagNoPassword) || frameCommand == kCommandEnterCommands) {
    passwordReply = kNoReply;
    return kResultOk;
  }
  // Read even when no password was asked for: under a transfer header the
  // pager always sends one verdict.
  uint8_t verdict = 0;
  if (ReceiveByte(verdict) != 0) {
    lastError = kErrorComPort;
    return kResultFail;
  }
  if (verdict == kVerdictAccepted) {
    passwordReply = kNoReply;
    return kResultOk;
  }
  passwordReply = verdict;
  lastError = kErrorWrongPassword;
  return kResultFalse;
}

int32_t CPagerProtocol::RunTransaction() {
  // The eight steps in order; a pause of 5 ms follows the header and the
  // password step. Steps return only the three results, so every step runs
  // once: a result other than kResultOk ends the transaction with it.
  int32_t result = kResultOk;
  for (int step = 0; step < 8; ++step) {
    switch (step) {
      case 0:
        result = WakeUp();
        break;
      case 1:
        result = SendHeader();
        break;
      case 2:
        result = ReceiveOptionByte();
        break;
      case 3:
        result = ReceiveInfoBlock();
        break;
      case 4:
        result = ReceiveRecords();
        break;
      case 5:
        result = ReceiveStatus();
        break;
      case 6:
        result = SendPassword();
        break;
      default:
        result = ReceiveVerdict();
        break;
    }
    if (result != kResultOk) return result;
    if (step == 1 || step == 6) Channel().Delay(kStepPauseMs);
  }
  return result;
}

int32_t CPagerProtocol::SendDataBlock() {
  const uint32_t n = frameLength;
  if (n > 0 && transferBuffer == nullptr) throw std::invalid_argument("null transfer buffer");
  stream.Clear();
  ResetChecksum();
  stream.Append(transferBuffer, n);
  AddToChecksum(transferBuffer, n);
  stream.Append(&checksum, 1);
  for (uint32_t i = 0; i <= n; ++i) {
    if (SendByte(stream.Data()[i]) != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
    if (i % kProgressInterval == 0 && progressSink != nullptr) {
      // The data fills the first quarter of the write's progress. An empty
      // block (just its checksum byte) reports 0 rather than divide by zero.
      int32_t percent = n > 0 ? static_cast<int32_t>((i * 100 / n) / 4) : 0;
      progressSink->SetProgressPercent(percent);
      Channel().Delay(kProgressPauseMs);
    }
  }
  return kResultOk;
}

int32_t CPagerProtocol::ReceiveDataBlock() {
  const uint32_t n = frameLength;
  if (n > 0 && transferBuffer == nullptr) throw std::invalid_argument("null transfer buffer");
  stream.Clear();
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t byte = 0;
    if (ReceiveByte(byte) != 0) {
      lastError = kErrorComPort;
      return kResultFail;
    }
    if (i % kProgressInterval == 0 && progressSink != nullptr) {
      progressSink->SetProgressPercent(static_cast<int32_t>(i * 100 / n));
      Channel().Delay(kProgressPauseMs);
    }
    stream.Append(&byte, 1);
  }
  // The client buffer is written only once the whole block has arrived.
  stream.Seek(0);
  stream.Read(transferBuffer, n);
  return kResultOk;
}

// ---------------------------------------------------------------- memory operations

void CPagerProtocol::SetFrame(uint8_t flags, uint8_t command, uint16_t param1, uint16_t length) {
  frameFlags = flags;
  frameCommand = command;
  frameParam1 = param1;
  frameParam2 = 0;
  frameLength = length;
}

int32_t CPagerProtocol::RunFramed(Step first_after, Step second_after) {
  if (OpenPort() != 0) {
    lastError = kErrorCantOpenPort;
    return kResultFail;
  }
  int32_t result = RunTransaction();
  if (result == kResultOk && first_after != nullptr) result = (this->*first_after)();
  if (result == kResultOk && second_after != nullptr) result = (this->*second_after)();
  if (ClosePort() != 0) {
    lastError = kErrorCantClosePort;
    return kResultFail;
  }
  return result;
}

int32_t CPagerProtocol::DoIdentify() {
  SetFrame(kFlagsIdentify, kCommandRead, 0, 0);
  return RunFramed(nullptr, nullptr);
}

int32_t CPagerProtocol::DoReadMemory(uint16_t address, uint8_t* buffer, uint16_t length) {
  // A missing buffer is refused before anything goes on the wire.
  if (length > 0 && buffer == nullptr) throw std::invalid_argument("null read buffer");
  SetFrame(kFlagsTransfer, kCommandRead, address, length);
  transferBuffer = buffer;
  return RunFramed(&CPagerProtocol::ReceiveDataBlock, nullptr);
}

int32_t CPagerProtocol::DoWriteMemory(uint16_t address, const uint8_t* data, uint16_t length) {
  if (length > 0 && data == nullptr) throw std::invalid_argument("null write data");
  SetFrame(kFlagsTransfer, kCommandWrite, address, length);
  transferBuffer = const_cast<uint8_t*>(data);  // only read from by a write
  return RunFramed(&CPagerProtocol::SendDataBlock, &CPagerProtocol::WaitWriteDone);
}

int32_t CPagerProtocol::DoActivate() {
  SetFrame(kFlagsTransfer, kCommandActivate, 0, 0);
  return RunFramed(&CPagerProtocol::WaitActivateDone, nullptr);
}

int32_t CPagerProtocol::WaitWriteDone() {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kWriteAckTimeoutMs);
  uint8_t ack = 0;
  if (ReceiveByte(ack) != 0 || ack != kAcknowledge) {
    ch.SetTimeout(saved);
    lastError = kErrorSendingData;
    return kResultFail;
  }
  // The pager stores the block meanwhile: about 4.9 ms per byte in all,
  // spread over 50 steps that carry progress from 45 to 94 percent.
  const uint32_t pause = static_cast<uint32_t>(frameLength) * 1000u / 10240u;
  for (int32_t percent = 45; percent <= 94; ++percent) {
    if (progressSink != nullptr) progressSink->SetProgressPercent(percent);
    ch.Delay(pause);
  }
  ack = 0;
  if (ReceiveByte(ack) != 0 || ack != kAcknowledge) {
    ch.SetTimeout(saved);
    lastError = kErrorSendingData;
    return kResultFail;
  }
  ch.SetTimeout(saved);
  ch.Delay(kWriteSettleMs);
  return kResultOk;
}

int32_t CPagerProtocol::WaitActivateDone() {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kActivateTimeoutMs);
  uint8_t ack = 0;
  if (ReceiveByte(ack) != 0 || ack != kAcknowledge) {
    ch.SetTimeout(saved);
    lastError = kErrorSendingData;
    return kResultFail;
  }
  ch.SetTimeout(saved);
  return Reidentify();
}

int32_t CPagerProtocol::Reidentify() {
  // A complete operation of its own inside the activation: its OpenPort finds
  // the port open (a no-op) and its ClosePort closes it, so the activation's
  // own ClosePort then finds it closed.
  SetFrame(kFlagsReidentify, kCommandRead, 0, 0);
  return RunFramed(nullptr, nullptr);
}

// ---------------------------------------------------------------- command mode

int32_t CPagerProtocol::WaitCommandAck() {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kCommandAckTimeoutMs);
  uint8_t ack = 0;
  int32_t received = ReceiveByte(ack);
  ch.SetTimeout(saved);
  if (received == 0 && ack == kCommandAcknowledge) return kResultOk;
  lastError = kErrorSendingData;
  return kResultFail;
}

int32_t CPagerProtocol::DoBeginCommands() {
  SetFrame(kFlagsCommandMode, kCommandEnterCommands, 0, 0);
  if (OpenPort() != 0) {
    lastError = kErrorCantOpenPort;
    return kResultFail;
  }
  // No pause after the header and no answer but the '.'. The port stays open
  // whatever the outcome, for the commands that follow.
  int32_t result = WakeUp();
  if (result == kResultOk) result = SendHeader();
  if (result == kResultOk) result = WaitCommandAck();
  return result;
}

int32_t CPagerProtocol::SendSingleCommand(uint8_t code) {
  if (SendByte(code) != 0) {
    lastError = kErrorComPort;
    return kResultFail;
  }
  return WaitCommandAck();
}

int32_t CPagerProtocol::DoSendCommand13() {
  return SendSingleCommand(kCommand13);
}

int32_t CPagerProtocol::DoSendCommandFF() {
  return SendSingleCommand(kCommandFF);
}

int32_t CPagerProtocol::DoSendCommandFFRepeat() {
  return SendSingleCommand(kCommandFF);
}

int32_t CPagerProtocol::DoSendBytePair(int32_t first, int32_t second) {
  int32_t result = SendSingleCommand(static_cast<uint8_t>(first));
  if (result != kResultOk) return result;
  return SendSingleCommand(static_cast<uint8_t>(second));
}

int32_t CPagerProtocol::SendParameterCommand(uint8_t code, const uint8_t* block, uint16_t length) {
  if (SendByte(code) != 0) {
    lastError = kErrorComPort;
    return kResultFail;
  }
  // The block and its checksum follow the command byte at once.
  std::memcpy(paramBlock, block, length);
  frameLength = length;
  transferBuffer = paramBlock;
  int32_t result = SendDataBlock();
  if (result != kResultOk) return result;
  return WaitCommandAck();
}

// Parameter blocks: 0x42, 0x40 and 0x46 carry little-endian numbers; 0xAE
// carries the address as two big-endian halves, low half first, then a
// big-endian value.
int32_t CPagerProtocol::DoSendCommand42(int32_t value) {
  const uint32_t a = static_cast<uint32_t>(value);
  const uint8_t block[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8),
                            static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 24)};
  return SendParameterCommand(kCommand42, block, 4);
}

int32_t CPagerProtocol::DoSendCommandAE(int32_t address, uint16_t value) {
  const uint32_t a = static_cast<uint32_t>(address);
  const uint8_t block[6] = {static_cast<uint8_t>(a >> 8),     static_cast<uint8_t>(a),
                            static_cast<uint8_t>(a >> 24),    static_cast<uint8_t>(a >> 16),
                            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return SendParameterCommand(kCommandAE, block, 6);
}

int32_t CPagerProtocol::DoSendCommand40(int32_t address, uint16_t value) {
  const uint32_t a = static_cast<uint32_t>(address);
  const uint8_t block[6] = {static_cast<uint8_t>(a),       static_cast<uint8_t>(a >> 8),
                            static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 24),
                            static_cast<uint8_t>(value),   static_cast<uint8_t>(value >> 8)};
  return SendParameterCommand(kCommand40, block, 6);
}

int32_t CPagerProtocol::DoSendCommand46(int32_t address, int32_t count) {
  const uint32_t a = static_cast<uint32_t>(address);
  const uint32_t b = static_cast<uint32_t>(count);
  const uint8_t block[8] = {static_cast<uint8_t>(a),       static_cast<uint8_t>(a >> 8),
                            static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 24),
                            static_cast<uint8_t>(b),       static_cast<uint8_t>(b >> 8),
                            static_cast<uint8_t>(b >> 16), static_cast<uint8_t>(b >> 24)};
  return SendParameterCommand(kCommand46, block, 8);
}

int32_t CPagerProtocol::DoEndCommands() {
  if (SendByte(kCommandLeave) != 0) {
    lastError = kErrorComPort;
    return kResultFail;  // the port stays open
  }
  int32_t result = WaitCommandAck();
  (void)ClosePort();  // closed whatever the answer; a close failure is not reported here
  return result;
}

int32_t CPagerProtocol::SendProbe() {
  CSerialChannel& ch = Channel();
  stream.Clear();
  stream.Append(&kProbeByte, 1);
  if (SendByte(kProbeByte) != 0) {
    lastError = kErrorSendingData;
    return kResultFalse;
  }
  ch.Delay(kProbePauseMs);
  uint8_t answer = 0;
  if (ReceiveByte(answer) != 0) {
    lastError = kErrorSendingData;
    return kResultFalse;
  }
  // A '.' back is the pager acknowledging the probe, as it acknowledges every
  // command: that is success (kResultOk, `lastError` untouched). Any other
  // byte is a failed probe: error 14 and kResultFalse, which callers that only
  // test for failure still take as success, as they always have.
  if (answer == kCommandAcknowledge) return kResultOk;
  lastError = kErrorSendingData;
  return kResultFalse;
}

int32_t CPagerProtocol::DoSendCommand0B() {
  // A port left open by command mode counts as opened; closing it below ends
  // command mode.
  if (OpenPort() != 0) {
    lastError = kErrorCantOpenPort;
    return kResultFail;
  }
  int32_t result = SendProbe();
  if (ClosePort() != 0) {
    lastError = kErrorCantClosePort;
    return kResultFail;
  }
  return result;
}

}  // namespace tarn
