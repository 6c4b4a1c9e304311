// FrameSteps: the steps of one exchange with the pager, working on the fields
// of a CPagerProtocol (the object it is bound to) and on its channel.
//
// A transaction is the wake-up (0xAA until 0x8B comes back), the eight-byte
// header, the answers the flag byte selects (option byte, info block, two
// records, status byte), the password when the status asks for it, and the
// verdict; the data phase follows with SendDataBlock or ReceiveDataBlock.
// Every step returns a StepResult and leaves `lastError` alone: the operation
// that runs the steps records the outcome. A step neither opens nor closes
// the port, and throws what the protocol throws (CTarnTimeout from the
// deadline check after every byte, NoChannelError, a GeneralException from a
// channel call other than the four guarded primitives, std::invalid_argument
// for a missing transfer buffer).
//
// The operations of CPagerProtocol build on these steps; tests drive single
// steps through this class in virtual time.
#ifndef TARN_PROTOCOL_FRAME_STEPS_H
#define TARN_PROTOCOL_FRAME_STEPS_H

#include <cstdint>

#include "tarn/protocol/pager_protocol.h"

namespace tarn {

class FrameSteps {
 public:
  explicit FrameSteps(CPagerProtocol& protocol) : p_(protocol) {}

  // ---- byte primitives: 0 or the caught channel code (never 0 on failure)
  int32_t OpenPort();
  int32_t ClosePort();
  int32_t SendByte(uint8_t byte);
  int32_t ReceiveByte(uint8_t& byte);  // byte untouched on failure
  void ResetChecksum() { p_.checksum = 0; }
  void AddToChecksum(const uint8_t* data, uint32_t n);

  // ---- the transaction, step by step
  StepResult WakeUp();
  StepResult SendHeader();
  StepResult ReceiveOptionByte();
  StepResult ReceiveInfoBlock();
  StepResult ReceiveRecords();
  StepResult ReceiveStatus();
  StepResult SendPassword();
  StepResult ReceiveVerdict();
  // All of the above in order, with a 5 ms pause after the header and after
  // the password step; the first step that does not succeed ends it.
  StepResult RunTransaction();

  // ---- the data phase for `frameLength` bytes at `transferBuffer`
  StepResult SendDataBlock();
  StepResult ReceiveDataBlock();

  // ---- command mode
  // One '.' within 5 s (the timeout is restored), else error 14.
  StepResult WaitCommandAck();
  // 0x0B, a 2 s pause, and a '.' back; anything else is kResultFalse with
  // error 14.
  StepResult SendProbe();

 private:
  CSerialChannel& Channel() { return p_.Channel(); }
  // Receives n answer bytes through the stream into `out` (untouched on failure).
  StepResult ReceiveAnswer(uint8_t* out, uint32_t n);

  CPagerProtocol& p_;
};

}  // namespace tarn

#endif  // TARN_PROTOCOL_FRAME_STEPS_H
