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
// directly. The fields come in groups, each a small struct the class derives
// from, so the names stay those of the object: the next header (FrameFields),
// what the pager answered (PagerAnswers), the download password
// (PasswordFields) and the data phase (DataPhaseFields). The class includes
// no COM header: results are the plain 32-bit values kResultOk / kResultFalse
// / kResultFail.
//
// The steps of an exchange (wake-up, header, answers, password, verdict,
// data blocks, byte primitives) are FrameSteps (frame_steps.h), which works
// on this object's fields; this class holds the state and the operations.
//
// Results and errors. A step ends with a StepResult: kResultOk, kResultFalse
// (the pager answered but refused, or the command-mode probe failed) or
// kResultFail, together with the error index (tarn/protocol/error_table.h)
// that goes with anything but kResultOk. Steps never touch `lastError`: each
// operation hands its outcome to Record, the one place that stores an index
// in `lastError` and turns the outcome into the operation's plain result.
// Indexes are never reset by success.
//
// Exceptions. GeneralException from the channel is caught in the byte
// primitives of FrameSteps (OpenPort, ClosePort, SendByte, ReceiveByte) only,
// and turned into a channel code.
// Everything else propagates to the caller: a GeneralException from any other
// channel call (PurgeInput, PurgeOutput, SetTimeout, SetEchoCancel, Delay),
// CTarnTimeout from CheckDeadline, NoChannelError when there is no channel,
// std::invalid_argument for a null client buffer. The component boundary maps
// CTarnTimeout to error 2 and anything else to error 1, through Record too.
// An operation ended by an exception records nothing itself.
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
#include <functional>
#include <stdexcept>

#include "tarn/channel/serial_channel.h"
#include "tarn/protocol/byte_stream.h"
#include "tarn/protocol/error_table.h"
#include "tarn/protocol/wire.h"

namespace tarn {

// Operation results (the values of S_OK, S_FALSE and E_FAIL).
inline constexpr int32_t kResultOk = 0;
inline constexpr int32_t kResultFalse = 1;
inline constexpr int32_t kResultFail = static_cast<int32_t>(0x80004005u);

// How a step or an operation ended: its result and, unless that is
// kResultOk, the error index that `lastError` takes.
struct StepResult {
  int32_t result = kResultOk;
  int32_t error = kErrorOk;
  bool Ok() const { return result == kResultOk; }
};
inline constexpr StepResult kStepOk{};
// The exchange failed (no answer, unexpected answer, port failure).
constexpr StepResult Failed(int32_t error) {
  return {kResultFail, error};
}
// The pager answered but refused, or the command-mode probe failed.
constexpr StepResult Refused(int32_t error) {
  return {kResultFalse, error};
}

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

// The next header; the operation that runs a transaction fills it first.
struct FrameFields {
  uint8_t frameFlags = 0;
  uint8_t frameCommand = 0;
  uint16_t frameParam1 = 0;  // the memory address of a read or write
  uint16_t frameParam2 = 0;  // always 0 here
  uint16_t frameLength = 0;  // bytes in the data phase
};

// What the pager told about itself in its answers.
struct PagerAnswers {
  uint8_t pagerType = 0;  // the last wake-up's answer, 0 after an unsupported one
  uint8_t optionByte = 0;
  uint8_t infoBlock[wire::kInfoBlockLength] = {};
  uint8_t infoLastByte = 0;  // infoBlock byte 15, copied each time the block arrives
  uint8_t firstRecord[wire::kRecordLength] = {};
  uint8_t secondRecord[wire::kRecordLength] = {};
  uint8_t statusChar = 0;
  int32_t statusOk = 0;  // 1 if the last status that was not 'D' was 'O'
};

// The download password and the pager's verdict on it.
struct PasswordFields {
  uint8_t password[wire::kRecordLength] = {};  // sent as it stands, set or not
  int32_t passwordGiven = 0;                   // no operation reads it
  uint8_t passwordReply = wire::kNoReply;
};

// The data phase of a transaction and of a command-mode parameter block.
struct DataPhaseFields {
  // Destination of a read or source of a write; client memory, not owned.
  // A write never stores through it (its const is dropped only to share the
  // one field).
  uint8_t* transferBuffer = nullptr;
  uint8_t checksum = 0;
  uint8_t paramBlock[8] = {};
  ProgressSink* progressSink = nullptr;
};

class FrameSteps;

class CPagerProtocol : public FrameFields,
                       public PagerAnswers,
                       public PasswordFields,
                       public DataPhaseFields {
 public:
  // The operation deadline has passed. Nothing in the protocol catches it.
  class CTarnTimeout {};

  // Current UTC time in 100 ns units since 1 January 1601.
  using UtcClock = uint64_t (*)(void* context);
  static uint64_t SystemUtcTicks(void* context);

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

  // ---- memory operations (open the port, transaction, data phase, close)
  int32_t DoIdentify();
  int32_t DoReadMemory(uint16_t address, uint8_t* buffer, uint16_t length);
  int32_t DoWriteMemory(uint16_t address, const uint8_t* data, uint16_t length);
  int32_t DoActivate();

  // ---- command mode
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

  // ---- the line and the outcome (names shared with the component object)
  CSerialChannel* channel = nullptr;
  uint64_t deadline = kNoDeadline;
  CByteStream stream;  // the one work buffer, cleared by every step that uses it
  int32_t lastError = kErrorOk;

 protected:
  // The channel, or NoChannelError.
  CSerialChannel& Channel();
  // The one place that stores an error index: `lastError` takes the
  // outcome's index unless it succeeded; returns the outcome's result.
  int32_t Record(StepResult outcome);

 private:
  friend class FrameSteps;
  // What follows the transaction of a framed operation, run only after it
  // succeeded.
  using AfterTransaction = std::function<StepResult(FrameSteps&)>;

  // Fills the header fields, opens the port, runs the transaction and then
  // `after` (if any) while everything succeeds, closes the port.
  StepResult RunFramed(uint8_t flags, uint8_t command, uint16_t param1, uint16_t length,
                       const AfterTransaction& after);
  StepResult WaitWriteDone(FrameSteps& steps);
  StepResult WaitActivateDone(FrameSteps& steps);
  StepResult BeginCommands();
  StepResult SendSingleCommand(uint8_t code);
  StepResult SendParameterCommand(uint8_t code, const uint8_t* block, uint16_t length);
  StepResult EndCommands();
  // Opens the port (a no-op when command mode left it open), probes, closes.
  StepResult ProbeAndClose();

  UtcClock clock_ = &SystemUtcTicks;
  void* clockContext_ = nullptr;
};

}  // namespace tarn

#endif  // TARN_PROTOCOL_PAGER_PROTOCOL_H
