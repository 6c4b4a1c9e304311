// pagersim::SimLink: an in-process serial channel wired to a simulated pager,
// running in virtual time.
//
// - Delay(ms) advances the virtual clock; nothing sleeps.
// - ReadByte/GetByte returns the pager's next byte. If none is on the line
//   yet, the link waits (virtually) up to the channel timeout for it: a byte
//   that becomes ready within the timeout is returned at that instant; else
//   the clock advances by the whole timeout and GeneralException(7) is thrown.
// - WriteByte/PutByte hands the byte to the pager at the current virtual
//   time; with echo cancelling on, the base class reads one byte back.
// - Every channel call is recorded in order with its virtual time, so tests
//   can assert the exact sequence of pauses, timeouts and bytes.
// - Failure hooks make a given call throw a given channel code.
// - A Disconnect fault of the pager makes reads fail with code 5 and writes
//   with code 6 until Reconnect().
// Bytes written by the host are not delayed by a line rate (the pager sees
// each at the instant it is written); use SetByteTimeMs to charge one.
#ifndef TOOLS_PAGERSIM_SIM_LINK_H
#define TOOLS_PAGERSIM_SIM_LINK_H

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "tarn/channel/serial_channel.h"
#include "tools/pagersim/pager.h"

namespace pagersim {

enum class CallKind {
  kInitialize,
  kOpen,
  kClose,
  kSetSettings,
  kSetTimeout,
  kDelay,
  kPurgeInput,
  kPurgeOutput,
  kSetEchoCancel,
  kWrite,  // one byte put on the line (PutByte)
  kRead,   // one byte taken from the line (GetByte), or a failed read
};

struct ChannelCall {
  CallKind kind;
  uint32_t value;   // SetTimeout/Delay: ms; SetEchoCancel: flag; Write/Read: byte
  uint64_t timeUs;  // virtual time when the call started
  int32_t failure;  // channel code the call threw, 0 if it succeeded
};

const char* ToString(CallKind kind);

class SimLink : public tarn::CSerialChannel {
 public:
  explicit SimLink(PagerConfig config = {});

  Pager& pager() { return pager_; }
  const Pager& pager() const { return pager_; }

  // Virtual clock.
  uint64_t NowUs() const { return nowUs_; }
  uint64_t NowMs() const { return nowUs_ / 1000; }
  // Advances the clock from the test's side (not recorded as a call).
  void Advance(uint64_t ms);
  // Charges `ms` of line time for each byte written by the host (default 0).
  void SetByteTimeMs(uint32_t ms) { byteTimeUs_ = uint64_t{ms} * 1000; }

  // The record of channel calls.
  const std::vector<ChannelCall>& Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  // The calls as text, separated by spaces: "Open PurgeInput SetTimeout(100)
  // SetEchoCancel(0) W:AA Delay(100) R:8B R!7 Close" (R!7: read failed, code 7).
  std::string Trace() const;
  // Sum of all Delay calls, and the list of them, in ms.
  uint64_t TotalDelayMs() const;
  std::vector<uint32_t> Delays() const;
  // The bytes the host wrote, and the bytes it read, in order.
  std::vector<uint8_t> Written() const;
  std::vector<uint8_t> ReadBytes() const;

  // Makes the `occurrence`-th next call of `kind` (1 = the next one) throw
  // GeneralException(code); occurrence 0 makes every such call throw.
  void FailOn(CallKind kind, int32_t code, unsigned occurrence = 1);
  void ClearFailures() { failures_.clear(); }

  // Restores a line cut by a Disconnect fault.
  void Reconnect() { pager_.Reconnect(); }
  // Bytes delivered by the pager and not yet read by the host.
  size_t PendingInput() const { return rx_.size(); }

  void Initialize() override;
  void Open() override;
  void Close() override;
  void SetSettings(const char* text) override;
  uint32_t SetTimeout(uint32_t milliseconds) override;
  void Delay(uint32_t milliseconds) override;
  bool SetEchoCancel(bool on) override;
  void PurgeInput() override;
  void PurgeOutput() override;
  void PutByte(uint8_t byte) override;
  uint8_t GetByte() override;

 private:
  struct FailRule {
    CallKind kind;
    int32_t code;
    unsigned remaining;  // 0 = every call
  };
  // Records the call; throws if a failure rule fires for it.
  void Enter(CallKind kind, uint32_t value);
  void Fail(int32_t code);  // marks the last call failed and throws
  void Pump();              // moves the pager's ready bytes onto the line

  Pager pager_;
  uint64_t nowUs_ = 0;
  uint64_t byteTimeUs_ = 0;
  std::deque<uint8_t> rx_;
  std::vector<ChannelCall> calls_;
  std::vector<FailRule> failures_;
};

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_SIM_LINK_H
