#include "tarn/protocol/frame_steps.h"

#include <cstring>
#include <stdexcept>

namespace tarn {

using namespace wire;

namespace {

// Runs one channel call; a GeneralException becomes its code, which must
// never read as success, even from a channel that raises code 0.
template <class Call>
int32_t GuardedCall(Call&& call) {
  try {
    call();
  } catch (const GeneralException& e) {
    int32_t code = e.GetCode();
    return code != 0 ? code : kChannelControlFailed;
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- primitives

int32_t FrameSteps::OpenPort() {
  CSerialChannel& ch = Channel();
  return GuardedCall([&] { ch.Open(); });
}

int32_t FrameSteps::ClosePort() {
  CSerialChannel& ch = Channel();
  return GuardedCall([&] { ch.Close(); });
}

int32_t FrameSteps::SendByte(uint8_t byte) {
  CSerialChannel& ch = Channel();
  int32_t rc = GuardedCall([&] { ch.WriteByte(byte); });
  p_.CheckDeadline();
  return rc;
}

int32_t FrameSteps::ReceiveByte(uint8_t& byte) {
  CSerialChannel& ch = Channel();
  int32_t rc = GuardedCall([&] { byte = ch.ReadByte(); });
  p_.CheckDeadline();
  return rc;
}

void FrameSteps::AddToChecksum(const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) p_.checksum = static_cast<uint8_t>(p_.checksum + data[i]);
}

// ---------------------------------------------------------------- transaction steps

StepResult FrameSteps::WakeUp() {
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
    if (sent != 0) return Failed(kErrorComPort);
    uint8_t answer = 0;
    int32_t received = ReceiveByte(answer);
    if (received == kChannelReadTimeout) continue;  // silence: next attempt
    if (received != 0) return Failed(kErrorComPort);
    if (answer == kWakeByte) continue;  // the line's echo of our own byte
    if (answer != kSupportedPagerType) {
      p_.pagerType = 0;
      return Failed(kErrorUnsupportedPager);
    }
    p_.pagerType = answer;
    answered = true;
  }
  ch.Delay(kWakePauseMs);
  ch.SetTimeout(kTransactionTimeoutMs);
  return answered ? kStepOk : Failed(kErrorNoAnswer);
}

StepResult FrameSteps::SendHeader() {
  CByteStream& stream = p_.stream;
  stream.Clear();
  stream.Append(&p_.frameFlags, 1);
  stream.Append(&p_.frameCommand, 1);
  for (uint16_t word : {p_.frameParam1, p_.frameParam2, p_.frameLength}) {
    const uint8_t little_endian[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    stream.AppendReversed(little_endian, 2);
  }
  const uint32_t n = stream.Position();
  for (uint32_t i = 0; i < n; ++i) {
    if (SendByte(stream.Data()[i]) != 0) return Failed(kErrorPagerDisabled);
  }
  return kStepOk;
}

StepResult FrameSteps::ReceiveAnswer(uint8_t* out, uint32_t n) {
  CByteStream& stream = p_.stream;
  stream.Clear();
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t byte = 0;
    if (ReceiveByte(byte) != 0) return Failed(kErrorComPort);
    stream.Append(&byte, 1);
  }
  stream.Seek(0);
  stream.Read(out, n);
  return kStepOk;
}

StepResult FrameSteps::ReceiveOptionByte() {
  if (!(p_.frameFlags & kFlagOptionByte)) return kStepOk;
  return ReceiveAnswer(&p_.optionByte, 1);
}

StepResult FrameSteps::ReceiveInfoBlock() {
  if (!(p_.frameFlags & kFlagInfoBlock)) return kStepOk;
  StepResult info = ReceiveAnswer(p_.infoBlock, kInfoBlockLength);
  if (info.Ok()) p_.infoLastByte = p_.infoBlock[kInfoBlockLength - 1];
  return info;
}

StepResult FrameSteps::ReceiveRecords() {
  if (!(p_.frameFlags & kFlagRecords)) return kStepOk;
  uint8_t both[2 * kRecordLength];
  StepResult records = ReceiveAnswer(both, sizeof both);
  if (!records.Ok()) return records;
  std::memcpy(p_.firstRecord, both, kRecordLength);
  std::memcpy(p_.secondRecord, both + kRecordLength, kRecordLength);
  return kStepOk;
}

StepResult FrameSteps::ReceiveStatus() {
  StepResult status = ReceiveAnswer(&p_.statusChar, 1);
  if (!status.Ok()) return status;
  if (p_.statusChar == kStatusDisabled) return Refused(kErrorPagerDisabled);
  p_.statusOk = p_.statusChar == kStatusOk ? 1 : 0;
  return kStepOk;
}

StepResult FrameSteps::SendPassword() {
  if ((p_.frameFlags & kFlagNoPassword) || p_.statusChar != kStatusPassword) return kStepOk;
  // The bytes go out as they stand, set by the client or not.
  for (uint32_t i = 0; i < kRecordLength; ++i) {
    if (SendByte(p_.password[i]) != 0) return Failed(kErrorComPort);
  }
  return kStepOk;
}

StepResult FrameSteps::ReceiveVerdict() {
  if ((p_.frameFlags & kFlagNoPassword) || p_.frameCommand == kCommandEnterCommands) {
    p_.passwordReply = kNoReply;
    return kStepOk;
  }
  // Read even when no password was asked for: under a transfer header the
  // pager always sends one verdict.
  uint8_t verdict = 0;
  if (ReceiveByte(verdict) != 0) return Failed(kErrorComPort);
  if (verdict == kVerdictAccepted) {
    p_.passwordReply = kNoReply;
    return kStepOk;
  }
  p_.passwordReply = verdict;
  return Refused(kErrorWrongPassword);
}

StepResult FrameSteps::RunTransaction() {
  if (StepResult wake = WakeUp(); !wake.Ok()) return wake;
  if (StepResult header = SendHeader(); !header.Ok()) return header;
  Channel().Delay(kStepPauseMs);
  if (StepResult option = ReceiveOptionByte(); !option.Ok()) return option;
  if (StepResult info = ReceiveInfoBlock(); !info.Ok()) return info;
  if (StepResult records = ReceiveRecords(); !records.Ok()) return records;
  if (StepResult status = ReceiveStatus(); !status.Ok()) return status;
  if (StepResult sent = SendPassword(); !sent.Ok()) return sent;
  Channel().Delay(kStepPauseMs);
  return ReceiveVerdict();
}

// ---------------------------------------------------------------- data blocks

StepResult FrameSteps::SendDataBlock() {
  const uint32_t n = p_.frameLength;
  const uint8_t* data = p_.transferBuffer;
  if (n > 0 && data == nullptr) throw std::invalid_argument("null transfer buffer");
  CByteStream& stream = p_.stream;
  stream.Clear();
  ResetChecksum();
  stream.Append(data, n);
  AddToChecksum(data, n);
  stream.Append(&p_.checksum, 1);
  for (uint32_t i = 0; i <= n; ++i) {
    if (SendByte(stream.Data()[i]) != 0) return Failed(kErrorComPort);
    if (i % kProgressInterval == 0 && p_.progressSink != nullptr) {
      // The data fills the first quarter of the write's progress. An empty
      // block (just its checksum byte) reports 0 rather than divide by zero.
      int32_t percent = n > 0 ? static_cast<int32_t>((i * 100 / n) / 4) : 0;
      p_.progressSink->SetProgressPercent(percent);
      Channel().Delay(kProgressPauseMs);
    }
  }
  return kStepOk;
}

StepResult FrameSteps::ReceiveDataBlock() {
  const uint32_t n = p_.frameLength;
  if (n > 0 && p_.transferBuffer == nullptr) throw std::invalid_argument("null transfer buffer");
  CByteStream& stream = p_.stream;
  stream.Clear();
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t byte = 0;
    if (ReceiveByte(byte) != 0) return Failed(kErrorComPort);
    if (i % kProgressInterval == 0 && p_.progressSink != nullptr) {
      p_.progressSink->SetProgressPercent(static_cast<int32_t>(i * 100 / n));
      Channel().Delay(kProgressPauseMs);
    }
    stream.Append(&byte, 1);
  }
  // The client buffer is written only once the whole block has arrived.
  stream.Seek(0);
  stream.Read(p_.transferBuffer, n);
  return kStepOk;
}

// ---------------------------------------------------------------- command mode

StepResult FrameSteps::WaitCommandAck() {
  CSerialChannel& ch = Channel();
  const uint32_t saved = ch.SetTimeout(kCommandAckTimeoutMs);
  uint8_t ack = 0;
  int32_t received = ReceiveByte(ack);
  ch.SetTimeout(saved);
  if (received == 0 && ack == kCommandAcknowledge) return kStepOk;
  return Failed(kErrorSendingData);
}

StepResult FrameSteps::SendProbe() {
  CSerialChannel& ch = Channel();
  p_.stream.Clear();
  p_.stream.Append(&kProbeByte, 1);
  if (SendByte(kProbeByte) != 0) return Refused(kErrorSendingData);
  ch.Delay(kProbePauseMs);
  uint8_t answer = 0;
  if (ReceiveByte(answer) != 0) return Refused(kErrorSendingData);
  // A '.' back is the pager acknowledging the probe, as it acknowledges every
  // command: that is success (kResultOk, `lastError` untouched). Any other
  // byte is a failed probe: error 14 and kResultFalse, which callers that only
  // test for failure still take as success, as they always have.
  if (answer == kCommandAcknowledge) return kStepOk;
  return Refused(kErrorSendingData);
}

}  // namespace tarn
