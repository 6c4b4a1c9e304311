// The pager wire protocol's fixed numbers: bytes with a meaning on the line,
// flag bits of the header, command codes, and the timeouts and pauses around
// the exchanges. Nothing changes them; the protocol's steps and operations
// (frame_steps.cpp, pager_protocol.cpp) and the component object read them.
#ifndef TARN_PROTOCOL_WIRE_H
#define TARN_PROTOCOL_WIRE_H

#include <cstdint>

namespace tarn::wire {

inline constexpr uint8_t kWakeByte = 0xAA;
inline constexpr uint8_t kSupportedPagerType = 0x8B;
inline constexpr uint32_t kRecordLength = 10;  // also the password length
inline constexpr uint32_t kInfoBlockLength = 16;
inline constexpr uint8_t kStatusDisabled = 0x44;  // 'D'
inline constexpr uint8_t kStatusOk = 0x4F;        // 'O'
inline constexpr uint8_t kStatusPassword = 0x59;  // 'Y'
inline constexpr uint8_t kVerdictAccepted = 0xBB;
inline constexpr uint8_t kAcknowledge = 0x06;
inline constexpr uint8_t kCommandAcknowledge = 0x2E;  // '.'
inline constexpr uint8_t kProbeByte = 0x0B;
inline constexpr uint8_t kNoReply = 0xFF;  // `passwordReply` after an accepted or skipped verdict

inline constexpr uint8_t kCommandRead = 1;  // also identify
inline constexpr uint8_t kCommandWrite = 2;
inline constexpr uint8_t kCommandEnterCommands = 9;
inline constexpr uint8_t kCommandActivate = 12;

inline constexpr uint8_t kFlagAlways = 0x80;
inline constexpr uint8_t kFlagOptionByte = 0x20;
inline constexpr uint8_t kFlagInfoBlock = 0x04;
inline constexpr uint8_t kFlagRecords = 0x02;
inline constexpr uint8_t kFlagNoPassword = 0x01;
inline constexpr uint8_t kFlagsIdentify = 0x87;
inline constexpr uint8_t kFlagsTransfer = 0x86;  // read, write, activate
inline constexpr uint8_t kFlagsReidentify = 0x9F;
inline constexpr uint8_t kFlagsCommandMode = 0x80;

// Command-mode bytes.
inline constexpr uint8_t kCommand13 = 0x13;
inline constexpr uint8_t kCommandFF = 0xFF;
inline constexpr uint8_t kCommand42 = 0x42;
inline constexpr uint8_t kCommandAE = 0xAE;
inline constexpr uint8_t kCommand40 = 0x40;
inline constexpr uint8_t kCommand46 = 0x46;
inline constexpr uint8_t kCommandLeave = 0x12;

// Timeouts and pauses, milliseconds.
inline constexpr uint32_t kWakeTimeoutMs = 100;
inline constexpr uint32_t kWakeAttempts = 10;
inline constexpr uint32_t kWakePauseMs = 100;
inline constexpr uint32_t kTransactionTimeoutMs = 2000;
inline constexpr uint32_t kStepPauseMs = 5;
inline constexpr uint32_t kProgressPauseMs = 200;
inline constexpr uint32_t kProgressInterval = 512;  // bytes between progress reports
inline constexpr uint32_t kWriteAckTimeoutMs = 60000;
inline constexpr uint32_t kWriteSettleMs = 3000;
inline constexpr uint32_t kActivateTimeoutMs = 120000;
inline constexpr uint32_t kCommandAckTimeoutMs = 5000;
inline constexpr uint32_t kProbePauseMs = 2000;

}  // namespace tarn::wire

#endif  // TARN_PROTOCOL_WIRE_H
