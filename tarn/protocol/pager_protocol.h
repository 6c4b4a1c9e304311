// CPagerProtocol: the pager wire protocol on top of a CSerialChannel.
//
// The host leads every exchange: it wakes the pager (0xAA until 0x8B comes
// back), sends an eight-byte header (flags, command, parameter 1, parameter 2,
// length; the words most significant byte first), reads the answers the flag
// byte selects (option byte, info block, two records, status byte), sends the
// download password when the status asks for it, reads the verdict, and then
// exchanges the command's data block. On top of those steps sit the memory
// operations (identify, read, write, activate) and the byte-command mode.
//
// All protocol state lives in plain public fields so that the component
// object built on this class (which derives from it) reads and writes them
// directly. The class includes no COM header: results are the plain 32-bit
// values kResultOk / kResultFalse / kResultFail.
//
// Results and errors. Every step and operation returns kResultOk,
// kResultFalse (the pager answered but refused, or the command-mode probe
// failed) or kResultFail, and unless it returns kResultOk it leaves an error
// index (tarn/protocol/error_table.h) in `lastError`. Indexes are never reset
// by success.
//
// Exceptions. GeneralException from the channel is caught in OpenPort,
// ClosePort, SendByte and ReceiveByte only, and turned into a channel code.
// Everything else propagates to the caller: a GeneralException from any other
// channel call (PurgeInput, PurgeOutput, SetTimeout, SetEchoCancel, Delay),
// CTarnTimeout from CheckDeadline, NoChannelError when there is no channel,
// std::invalid_argument for a null client buffer. The component boundary maps
// CTarnTimeout to error 2 and anything else to error 1.
//
// Deadline. SendByte and ReceiveByte call CheckDeadline after every byte. The
// operations here never set the deadline themselves: the interface methods
// that must start without one (Identify, Activate, BeginCommands,
// SendCommand0B) call SetDeadline(kNoDeadlineMs) first, which is one line.
//
// Port. Every operation opens the port at its start and closes it at its end,
// except command mode, which keeps it open from DoBeginCommands to
// DoEndCommands. An operation ended by an exception leaves the port as it was.
#ifndef TARN_PROTOCOL_PAGER_PROTOCOL_H
#define TARN_PROTOCOL_PAGER_PROTOCOL_H

#include <cstdint>
#include <stdexcept>

#include "tarn/channel/serial_channel.h"
#include "tarn/protocol/byte_stream.h"
#include "tarn/protocol/error_table.h"

namespace tarn {

// Operation results (the values of S_OK, S_FALSE and E_FAIL).
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultFalse = 1;
inline constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005u);

// Receives progress percentages during data blocks and write pacing. The
// server adapts the client's progress indicator to it; null means no progress
// calls and no progress pauses.
class ProgressSink {
 public:
  virtual void SetProgressPercent(int32_t percent) = 0;

 protected:
  ~ProgressSink() = default;
};

// Raised by every operation that needs the channel when there is none.
class NoChannelError : public std::logic_error {
 public:
  NoChannelError() : std::logic_error("no serial channel") {}
};

class CPagerProtocol {
 public:
  // The operation deadline has passed. Nothing in the protocol catches it.
  class CTarnTimeout {};

  // Current UTC time in 100 ns units since 1 January 1601.
  using UtcClock = uint64_t (*)(void* context);
  static uint64_t SystemUtcTicks(void* context);

  // ---- constants
  static constexpr uint8_t kWakeByte = 0xAA;
  static constexpr uint8_t kSupportedPagerType = 0x8B;
  static constexpr uint32_t kRecordLength = 10;  // also the password length
  static constexpr uint32_t kInfoBlockLength = 16;
  static constexpr uint8_t kStatusDisabled = 0x44;  // 'D'
  static constexpr uint8_t kStatusOk = 0x4F;        // 'O'
  static constexpr uint8_t kStatusPassword = 0x59;  // 'Y'
  static constexpr uint8_t kVerdictAccepted = 0xBB;
  static constexpr uint8_t kAcknowledge = 0x06;
  static constexpr uint8_t kCommandAcknowledge = 0x2E;  // '.'
  static constexpr uint8_t kProbeByte = 0x0B;
  static constexpr uint8_t kNoReply = 0xFF;  // `passwordReply` after an accepted or skipped verdict

  static constexpr uint8_t kCommandRead = 1;  // also identify
  static constexpr uint8_t kCommandWrite = 2;
  static constexpr uint8_t kCommandEnterCommands = 9;
  static constexpr uint8_t kCommandActivate = 12;

  static constexpr uint8_t kFlagAlways = 0x80;
  static constexpr uint8_t kFlagOptionByte = 0x20;
  static constexpr uint8_t kFlagInfoBlock = 0x04;
  static constexpr uint8_t kFlagRecords = 0x02;
  static constexpr uint8_t kFlagNoPassword = 0x01;
  static constexpr uint8_t kFlagsIdentify = 0x87;
  static constexpr uint8_t kFlagsTransfer = 0x86;  // read, write, activate
  static constexpr uint8_t kFlagsReidentify = 0x9F;
  static constexpr uint8_t kFlagsCommandMode = 0x80;

  // Command-mode bytes.
  static constexpr uint8_t kCommand13 = 0x13;
  static constexpr uint8_t kCommandFF = 0xFF;
  static constexpr uint8_t kCommand42 = 0x42;
  static constexpr uint8_t kCommandAE = 0xAE;
  static constexpr uint8_t kCommand40 = 0x40;
  static constexpr uint8_t kCommand46 = 0x46;
  static constexpr uint8_t kCommandLeave = 0x12;

  // Timeouts and pauses, milliseconds.
  static constexpr uint32_t kWakeTimeoutMs = 100;
  static constexpr uint32_t kWakeAttempts = 10;
  static constexpr uint32_t kWakePauseMs = 100;
  static constexpr uint32_t kTransactionTimeoutMs = 2000;
  static constexpr uint32_t kStepPauseMs = 5;
  static constexpr uint32_t kProgressPauseMs = 200;
  static constexpr uint32_t kProgressInterval = 512;  // bytes between progress reports
  static constexpr uint32_t kWriteAckTimeoutMs = 60000;
  static constexpr uint32_t kWriteSettleMs = 3000;
  static constexpr uint32_t kActivateTimeoutMs = 120000;
  static constexpr uint32_t kCommandAckTimeoutMs = 5000;
  static constexpr uint32_t kProbePauseMs = 2000;

  static constexpr uint32_t kNoDeadlineMs = 0xFFFFFFFF;
  static constexpr uint64_t kNoDeadline = 0x7FFFFFFFFFFFFFFFull;  // high 0x7FFFFFFF, low 0xFFFFFFFF

  // The channel is not owned: whoever creates the protocol destroys the
  // channel (the component object does so in its destructor). A null channel
  // is allowed; every operation then raises NoChannelError.
  explicit CPagerProtocol(CSerialChannel* channel = nullptr);
  CPagerProtocol(const CPagerProtocol&) = delete;
  CPagerProtocol& operator=(const CPagerProtocol&) = delete;
  virtual ~CPagerProtocol();

  // ---- deadline
  // kNoDeadlineMs: no deadline; else now + milliseconds.
  void SetDeadline(uint32_t milliseconds);
  // Throws CTarnTimeout when the clock is strictly later than `deadline`.
  void CheckDeadline();
  // Replaces the clock (null: the system clock), e.g. with virtual time.
  void SetClock(UtcClock clock, void* context);

  // ---- password and field helpers
  // The operations carry a Do prefix so that a class that also implements the
  // component's interfaces does not hide them; SetPassword and ClearPassword
  // keep the interface's names, so such a class calls them qualified
  // (CPagerProtocol::SetPassword).
  void SetPassword(const uint8_t* password10);  // passwordGiven = 1
  void ClearPassword();                         // passwordGiven = 0; the bytes stay
  void CopyInfoId(uint8_t* out6) const;         // infoBlock bytes 9 to 14

  // ---- byte primitives: 0 or the caught channel code (never 0 on failure)
  int32_t OpenPort();
  int32_t ClosePort();
  int32_t SendByte(uint8_t byte);
  int32_t ReceiveByte(uint8_t& byte);  // byte untouched on failure
  void ResetChecksum() { checksum = 0; }
  void AddToChecksum(const uint8_t* data, uint32_t n);

  // ---- transaction steps
  int32_t WakeUp();
  int32_t SendHeader();
  int32_t ReceiveOptionByte();
  int32_t ReceiveInfoBlock();
  int32_t ReceiveRecords();
  int32_t ReceiveStatus();
  int32_t SendPassword();
  int32_t ReceiveVerdict();
  // Wake-up, header and answers; neither opens nor closes the port.
  int32_t RunTransaction();
  // The data phase for `frameLength` bytes at `transferBuffer`.
  int32_t SendDataBlock();
  int32_t ReceiveDataBlock();

  // ---- memory operations (open the port, transaction, data phase, close)
  int32_t DoIdentify();
  int32_t DoReadMemory(uint16_t address, uint8_t* buffer, uint16_t length);
  int32_t DoWriteMemory(uint16_t address, const uint8_t* data, uint16_t length);
  int32_t DoActivate();
  int32_t WaitWriteDone();
  int32_t WaitActivateDone();
  int32_t Reidentify();

  // ---- command mode
  int32_t WaitCommandAck();
  int32_t DoBeginCommands();
  int32_t DoSendCommand13();
  int32_t DoSendCommandFF();
  int32_t DoSendCommandFFRepeat();
  int32_t DoSendBytePair(int32_t first, int32_t second);
  int32_t DoSendCommand42(int32_t value);
  int32_t DoSendCommandAE(int32_t address, uint16_t value);
  int32_t DoSendCommand40(int32_t address, uint16_t value);
  int32_t DoSendCommand46(int32_t address, int32_t count);
  int32_t DoEndCommands();
  int32_t DoSendCommand0B();
  int32_t SendProbe();

  // ---- state (names shared with the component object)
  CSerialChannel* channel = nullptr;
  uint64_t deadline = kNoDeadline;
  CByteStream stream;
  int32_t lastError = kErrorOk;
  uint8_t checksum = 0;
  uint8_t pagerType = 0;
  uint8_t frameFlags = 0;
  uint8_t frameCommand = 0;
  uint16_t frameParam1 = 0;
  uint16_t frameParam2 = 0;
  uint16_t frameLength = 0;
  uint8_t optionByte = 0;
  uint8_t infoBlock[kInfoBlockLength] = {};
  uint8_t firstRecord[kRecordLength] = {};
  uint8_t secondRecord[kRecordLength] = {};
  uint8_t statusChar = 0;
  uint8_t password[kRecordLength] = {};
  int32_t passwordGiven = 0;  // no operation reads it
  ProgressSink* progressSink = nullptr;
  int32_t statusOk = 0;
  // Destination of a read or source of a write; client memory, not owned.
  // A write never stores through it (its const is dropped only to share the
  // one field).
  uint8_t* transferBuffer = nullptr;
  uint8_t paramBlock[8] = {};
  uint8_t passwordReply = kNoReply;
  uint8_t infoLastByte = 0;

 protected:
  // The channel, or NoChannelError.
  CSerialChannel& Channel();

 private:
  using Step = int32_t (CPagerProtocol::*)();
  // Fills the header fields.
  void SetFrame(uint8_t flags, uint8_t command, uint16_t param1, uint16_t length);
  // Opens the port, runs the transaction and then `after` (up to two steps)
  // while everything succeeds, closes the port.
  int32_t RunFramed(Step first_after, Step second_after);
  // Receives n answer bytes through the stream into `out` (untouched on failure).
  int32_t ReceiveAnswer(uint8_t* out, uint32_t n);
  int32_t SendSingleCommand(uint8_t code);
  int32_t SendParameterCommand(uint8_t code, const uint8_t* block, uint16_t length);
  UtcClock clock_ = &SystemUtcTicks;
  void* clockContext_ = nullptr;
};

}  // namespace tarn

#endif  // TARN_PROTOCOL_PAGER_PROTOCOL_H
