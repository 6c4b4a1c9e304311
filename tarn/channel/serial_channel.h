// CSerialChannel: the abstract byte channel that every pager exchange goes
// through. One byte per call, a per-byte timeout, a byte order for word and
// double-word operations, optional cancelling of the line's echo, break and
// line-control signals, and the port settings string. Every failure is
// raised as GeneralException with a channel code.
//
// The virtual operations are declared in their fixed slot order; do not
// reorder them.
#ifndef TARN_CHANNEL_SERIAL_CHANNEL_H
#define TARN_CHANNEL_SERIAL_CHANNEL_H

#include <cstdint>

#include "tarn/channel/general_exception.h"
#include "tarn/channel/trace_sink.h"

namespace tarn {

class CSerialChannel {
 public:
  CSerialChannel();
  CSerialChannel(const CSerialChannel&) = delete;
  CSerialChannel& operator=(const CSerialChannel&) = delete;

  // Marks the channel closed without touching the port; frees the settings text.
  virtual ~CSerialChannel();
  virtual void Initialize();
  virtual void Open();   // base: sets open
  virtual void Close();  // base: clears open
  virtual void WriteByte(uint8_t byte);
  virtual uint8_t ReadByte();
  virtual void WriteWord(uint16_t word);
  virtual uint16_t ReadWord();
  virtual void WriteDword(uint32_t dword);
  virtual uint32_t ReadDword();
  virtual void WriteBuffer(const uint8_t* bytes, uint32_t count);
  virtual void ReadBuffer(uint8_t* buffer, uint32_t count);
  // Base: stores an own copy of the text and its length. Implementations
  // read and apply the text first.
  virtual void SetSettings(const char* text);
  virtual uint32_t GetSettings(char* buffer, uint32_t size);
  virtual uint32_t GetSettingsLength();
  virtual bool SetBreak(bool on);
  virtual void SendBreak(uint32_t milliseconds);
  virtual uint32_t SetTimeout(uint32_t milliseconds);
  virtual uint32_t GetTimeout();
  virtual void Delay(uint32_t milliseconds);
  virtual bool SetBigEndian(bool on);
  virtual bool SetEchoCancel(bool on);
  virtual uint32_t QueryStatus();
  virtual void PurgeInput();
  virtual void PurgeOutput();
  virtual void EscapeFunction(uint32_t code);
  // Raw byte transfer of the implementation; does not test the open flag.
  virtual void PutByte(uint8_t byte);
  virtual uint8_t GetByte();
  // Raises channel code 11 when the channel is not open.
  virtual void CheckOpen();

  bool IsOpen() const { return open != 0; }
  bool IsBigEndian() const { return bigEndian != 0; }
  bool IsEchoCancel() const { return echoCancel != 0; }
  bool IsBreak() const { return breakState != 0; }

  // Wire trace: every byte sent and received goes to the sink while one is
  // set (null turns tracing off). The channel does not own the sink.
  void SetTrace(ITraceSink* sink) { trace = sink; }
  ITraceSink* GetTrace() const { return trace; }

  // Why the last Open failed, beyond its channel code: the operating
  // system's error number (0 if none) and a short static text such as
  // "port busy", "no such device" or "no device name" (null if none).
  int32_t LastOsError() const { return lastOsError; }
  const char* FailureReason() const { return failureReason; }

 protected:
  // With echo cancelling on, reads one byte back and drops it (implementations
  // call this at the end of PutByte).
  void CancelEcho();

  // Trace hooks for PutByte/GetByte of the implementations: one null check
  // when tracing is off.
  void TraceByte(TraceDirection direction, uint8_t byte) {
    if (trace != nullptr) trace->OnByte(direction, byte);
  }
  void TraceEvent(const char* what) {
    if (trace != nullptr) trace->OnEvent(what);
  }
  void SetFailure(int32_t osError, const char* reason) {
    lastOsError = osError;
    failureReason = reason;
  }

  int32_t open = 0;
  char* settingsText = nullptr;
  uint32_t settingsLength = 0;
  uint32_t timeout = 200;
  int32_t bigEndian = 1;
  int32_t echoCancel = 1;
  int32_t breakState = 0;

 private:
  ITraceSink* trace = nullptr;
  int32_t lastOsError = 0;
  const char* failureReason = nullptr;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_SERIAL_CHANNEL_H
