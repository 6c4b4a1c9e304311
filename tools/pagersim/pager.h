// pagersim::Pager: the pager's side of the wire protocol as a byte-level state
// machine, independent of any transport.
//
// The transport feeds every host byte with Receive(byte, now) and collects the
// pager's bytes with Pull(now), which hands out the bytes whose time has come.
// Time is a plain microsecond count chosen by the transport: virtual time for
// the in-process link (sim_link.h), the monotonic clock for the pty server.
// Tick(now) lets the pager notice that the host went quiet in the middle of a
// header or block (the next Receive or Pull does the same).
//
// What the pager does, in short:
//   idle        0xAA -> pager type (optionally ignoring the first N wake bytes);
//               a further 0xAA while awake gets no answer (the pager goes back
//               to sleep `hostByteTimeoutMs` after its answer without a header);
//               0x0B -> probe answer ('.'); anything else is a violation.
//   woken       8-byte header: flags, command, param1 (BE), param2 (BE), length (BE).
//               flag 0x20 option byte, 0x04 info block, 0x02 two records, then the
//               status byte; status 'D' ends the transaction. With flag 0x01 clear:
//               status 'Y' -> takes 10 password bytes; then the verdict (0xBB or the
//               refusal byte) unless the command is 9.
//   command 1   sends `length` bytes of memory from param1.
//   command 2   takes `length` bytes + checksum; bad checksum -> nak byte, nothing
//               stored; else stores, sends 0x06 and, 50 * (length*1000/10240) ms
//               later, the second 0x06 (at once with `fastWriteAck`).
//   command 12  sends 0x06 after `activateDelayMs`.
//   command 9   answers '.' to the header only, then command mode: '.' to every
//               byte; 0x42/0xAE/0x40/0x46 take a 4/6/6/8-byte block + checksum first
//               (bad checksum -> nak byte); 0x12 answers '.' and leaves.
// Memory is 64 KiB; reads and writes that run past 0xFFFF wrap to 0x0000.
#ifndef TOOLS_PAGERSIM_PAGER_H
#define TOOLS_PAGERSIM_PAGER_H

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pagersim {

// Protocol bytes.
inline constexpr uint8_t kWakeByte = 0xAA;
inline constexpr uint8_t kPagerType = 0x8B;
inline constexpr uint8_t kVerdictAccepted = 0xBB;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kCommandAck = 0x2E;  // '.'
inline constexpr uint8_t kProbeByte = 0x0B;
inline constexpr uint8_t kLeaveCommandMode = 0x12;
inline constexpr size_t kMemorySize = 0x10000;

// What the pager says about itself in every transaction.
struct PagerIdentity {
  std::array<uint8_t, 16> infoBlock{};
  std::array<uint8_t, 10> firstRecord{};
  std::array<uint8_t, 10> secondRecord{};
  uint8_t status = 'O';  // 'O', 'Y' (asks for the password), 'D' (disabled), others
};

// Named steps of the exchange, for fault injection. Steps with pager output
// (WakeAnswer, OptionByte, InfoBlock, Records, Status, Verdict, ReadData,
// FirstAck, SecondAck, ActivateAck, CommandAck, ProbeAnswer) apply Silence,
// WrongByte and DropByte to that output. Input steps (Header, Password,
// WriteData, CommandBlock) apply them to the host's bytes: Silence = the step
// completes but the pager answers nothing; WrongByte = the pager receives
// `byte` instead of the step's first host byte; DropByte = that byte is lost.
// Echo sends back host bytes received in the step (WakeAnswer: the wake byte,
// CommandAck: command bytes, ProbeAnswer: the probe byte). Disconnect kills
// the line when the step begins. Any matches every step.
enum class Step {
  kAny,
  kWakeAnswer,
  kHeader,
  kOptionByte,
  kInfoBlock,
  kRecords,
  kStatus,
  kPassword,
  kVerdict,
  kReadData,
  kWriteData,
  kFirstAck,
  kSecondAck,
  kActivateAck,
  kCommandAck,
  kCommandBlock,
  kProbeAnswer,
};

enum class FaultKind { kSilence, kWrongByte, kDropByte, kEcho, kDisconnect };

struct Fault {
  Step step = Step::kAny;
  FaultKind kind = FaultKind::kSilence;
  uint8_t byte = 0;  // the byte sent (or received) instead, for WrongByte
  int count = 1;     // how many times it fires (per byte for Echo); 0 = always
};

struct PagerConfig {
  uint8_t pagerType = kPagerType;  // answer to the wake byte
  unsigned ignoreWakes = 0;        // the first N wake bytes get no answer
  PagerIdentity identity;
  // Replaces `identity` once an activation has been acknowledged, so the
  // re-identification that follows brings back new values.
  std::optional<PagerIdentity> identityAfterActivate;
  uint8_t optionByte = 0;                      // sent under flag 0x20
  std::array<uint8_t, 10> password{};          // expected when status is 'Y'
  uint8_t refusalByte = kNak;                  // verdict for a wrong password
  uint8_t nakByte = kNak;                      // answer to a block with a bad checksum
  uint8_t probeAnswer = kCommandAck;           // answer to 0x0B outside a transaction
  uint32_t activateDelayMs = 0;                // delay before the activation's 0x06
  bool fastWriteAck = false;                   // second write ack without the pacing
  uint32_t hostByteTimeoutMs = 1000;           // gap that ends a header or block
  std::optional<uint32_t> stopAfterDataBytes;  // go silent after N data bytes
  std::vector<Fault> faults;
};

enum class Direction : uint8_t { kHostToPager, kPagerToHost };

struct TranscriptEntry {
  uint64_t timeUs;
  Direction direction;
  uint8_t byte;
};

enum class ViolationKind {
  kBadChecksum,      // data or parameter block with a wrong checksum
  kUnknownCommand,   // header command other than 1, 2, 9, 12
  kWrongHeader,      // header with flag 0x80 clear or parameter 2 not zero
  kTruncatedHeader,  // the host stopped in the middle of a header
  kTruncatedData,    // ... of a password, data block or parameter block
  kUnexpectedByte,   // a byte while the pager expected none
};

struct Violation {
  uint64_t timeUs;
  ViolationKind kind;
  std::string detail;
};

// A command received in command mode (parameter commands with their block).
struct CommandRecord {
  uint8_t command;
  std::vector<uint8_t> block;  // empty for single-byte commands
  bool checksumOk = true;
};

struct PagerStats {
  unsigned wakeBytes = 0;
  unsigned transactions = 0;  // headers accepted
  unsigned reads = 0;         // command-1 data phases (identifications included)
  unsigned writes = 0;        // blocks stored
  unsigned activations = 0;
  unsigned refusals = 0;  // wrong passwords
  unsigned probes = 0;
};

const char* ToString(Step step);
const char* ToString(FaultKind kind);
const char* ToString(ViolationKind kind);
std::optional<Step> StepFromString(const std::string& name);
std::optional<FaultKind> FaultKindFromString(const std::string& name);

class Pager {
 public:
  explicit Pager(PagerConfig config = {});

  // A byte from the host arrives at time `nowUs`.
  void Receive(uint8_t byte, uint64_t nowUs);
  // Lets the pager notice time-outs of the host up to `nowUs`.
  void Tick(uint64_t nowUs);
  // The pager's bytes that are on the line by `nowUs`, in order (transcribed).
  std::vector<uint8_t> Pull(uint64_t nowUs);
  // When the next pending byte will be ready, if any is pending.
  std::optional<uint64_t> NextOutputTime() const;
  // When the pager will next time out waiting for the host, if it waits.
  std::optional<uint64_t> NextDeadline() const;
  bool HasPendingOutput() const { return !output_.empty(); }
  // The line went away (host closed the port): bytes not yet sent are lost and
  // a header or block in progress is abandoned (recorded as truncated).
  void LineDropped(uint64_t nowUs);

  // A Disconnect fault fired; the transport should cut the line.
  bool Disconnected() const { return disconnected_; }
  void Reconnect() { disconnected_ = false; }
  // The "stop answering" limit was reached: the pager ignores everything.
  bool Stopped() const { return stopped_; }

  std::array<uint8_t, kMemorySize>& Memory() { return memory_; }
  const std::array<uint8_t, kMemorySize>& Memory() const { return memory_; }
  PagerConfig& Config() { return config_; }
  const PagerConfig& Config() const { return config_; }
  bool InCommandMode() const { return state_ == State::kCommandMode; }

  const std::vector<TranscriptEntry>& Transcript() const { return transcript_; }
  const std::vector<Violation>& Violations() const { return violations_; }
  const std::vector<CommandRecord>& Commands() const { return commands_; }
  const PagerStats& Stats() const { return stats_; }
  bool HasViolation(ViolationKind kind) const;
  // Human-readable transcript: one line per byte, then the violations.
  std::string TranscriptText() const;

 private:
  enum class State {
    kIdle,
    kAwake,
    kHeader,
    kPassword,
    kWriteData,
    kCommandMode,
    kCommandBlock,
  };
  struct Pending {
    uint8_t byte;
    uint64_t readyUs;
  };

  void Handle(uint8_t byte, uint64_t nowUs);
  void OnHeader(uint64_t nowUs);
  void AfterPassword(uint64_t nowUs);
  void StartData(uint64_t nowUs);
  void OnWriteBlock(uint64_t nowUs);
  void OnCommandBlock(uint64_t nowUs);
  void ToIdle() { state_ = State::kIdle; }
  // Queues the bytes of an output step (faults applied). Returns false when a
  // Silence or Disconnect fault ate the step: the transaction is abandoned.
  bool Emit(Step step, std::vector<uint8_t> bytes, uint64_t readyUs);
  Fault* FindFault(Step step, bool (*kindFilter)(FaultKind));
  void Violate(ViolationKind kind, std::string detail, uint64_t nowUs);
  Step InputStep() const;
  size_t ExpectedBlockLength(uint8_t command) const;
  bool CountDataByte();

  PagerConfig config_;
  std::array<uint8_t, kMemorySize> memory_{};
  State state_ = State::kIdle;
  std::deque<Pending> output_;
  uint64_t lastOutputUs_ = 0;
  uint64_t lastInputUs_ = 0;
  unsigned wakesSeen_ = 0;
  uint64_t wakeAnswerUs_ = 0;    // when the answer to the wake byte went out
  std::vector<uint8_t> buffer_;  // header, password, block being received
  size_t expected_ = 0;
  bool silenceAfterInput_ = false;
  uint8_t flags_ = 0;
  uint8_t command_ = 0;
  uint16_t address_ = 0;
  uint16_t length_ = 0;
  uint8_t blockCommand_ = 0;
  uint64_t dataBytes_ = 0;
  bool disconnected_ = false;
  bool stopped_ = false;
  std::vector<TranscriptEntry> transcript_;
  std::vector<Violation> violations_;
  std::vector<CommandRecord> commands_;
  PagerStats stats_;
};

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_PAGER_H
