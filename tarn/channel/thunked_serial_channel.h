// CThunkedSerialChannel: the serial channel that reaches the port through
// the 16-bit communications helper library "MARVOSEL.DLL" and its entry
// "ThunkDispatcher". Every port operation is one call of the entry with a
// command code and the shared parameter block:
//
//   16 open, 32 close, 48 configure, 64 break on, 80 break off, 96 put byte,
//   112 get byte, 160 status, 176 purge input, 192 purge output, 208 escape.
//
// The entry returns 0 when done; for 96 and 112, 2 means the byte was not
// written / no byte arrived within the timeout in word 7; anything else is
// a failure.
//
// The entry is reached through a loader (ThunkLoader): on Windows the
// universal thunk (UTRegister/UTUnRegister looked up in the kernel library,
// present only on Win32s); elsewhere a shared library that exports
// ThunkDispatcher (TARN_THUNK_LIBRARY names it; default "libmarvosel.so").
// Registration happens once per process, at the first Initialize, and is
// released when the last channel object is destroyed.
#ifndef TARN_CHANNEL_THUNKED_SERIAL_CHANNEL_H
#define TARN_CHANNEL_THUNKED_SERIAL_CHANNEL_H

#include <cstdint>

#include "tarn/channel/serial_channel.h"

namespace tarn {

// The block that the helper library reads and writes in place. The ten
// 32-bit words are those of the helper's command protocol:
//   0 device name pointer (converted by the thunk for the open command)
//   1 zero  2 baud rate  3 parity code  4 data bits  5 stop-bits code
//   6 data byte (low 8 bits)  7 timeout in ms  8 status word  9 escape code
// Word 0 can hold a pointer only where pointers are 32 bits wide; so that a
// helper on a 64-bit host can find the name, the full pointer also follows
// the words in `deviceName`.
struct ThunkParamBlock {
  uint32_t word[10];
  const char* deviceName;
};

#if defined(_WIN32)
#define TARN_THUNK_CALL __stdcall
#else
#define TARN_THUNK_CALL
#endif
using ThunkEntry = uint32_t(TARN_THUNK_CALL*)(ThunkParamBlock* block, uint32_t command,
                                              void** translationList);

// How the channel finds the thunk entry. Register returns the entry, or
// null when the helper cannot be reached; Unregister releases it and
// raises channel code 3 when the helper library cannot be freed.
class ThunkLoader {
 public:
  virtual ~ThunkLoader() = default;
  virtual ThunkEntry Register() = 0;
  virtual void Unregister() = 0;
};

// The platform's loader (a process-wide object).
ThunkLoader& PlatformThunkLoader();

class CThunkedSerialChannel : public CSerialChannel {
 public:
  CThunkedSerialChannel();
  ~CThunkedSerialChannel() override;

  void Initialize() override;
  void Open() override;
  void Close() override;
  void SetSettings(const char* text) override;
  bool SetBreak(bool on) override;
  uint32_t SetTimeout(uint32_t milliseconds) override;
  void Delay(uint32_t milliseconds) override;
  uint32_t QueryStatus() override;
  void PurgeInput() override;
  void PurgeOutput() override;
  void EscapeFunction(uint32_t code) override;
  void PutByte(uint8_t byte) override;
  uint8_t GetByte() override;
  // Unregisters the thunk and frees the kernel library.
  virtual void ReleaseThunk();

  // Settings as applied, for inspection.
  uint16_t BaudRate() const { return baudRate; }
  uint8_t ParityCode() const { return parityCode; }
  uint8_t DataBits() const { return dataBits; }
  uint8_t StopBitsCode() const { return stopBitsCode; }
  const char* DeviceName() const { return deviceName; }
  const ThunkParamBlock& ParamBlock() const { return paramBlock; }

  // Process-wide state, for inspection.
  static int32_t InstanceCount();
  static bool IsRegistered();

  // Replaces the loader (tests); null restores the platform's. Only while
  // no thunk is registered.
  static void SetLoader(ThunkLoader* loader);
  // Replaces the millisecond tick source of Delay (tests); null restores
  // the platform's.
  static void SetTickSource(uint32_t (*ticks)());

 private:
  uint32_t Call(uint32_t command);

  uint16_t baudRate = 9600;
  uint8_t parityCode = 0;
  uint8_t dataBits = 8;
  uint8_t stopBitsCode = 0;
  char* deviceName = nullptr;
  ThunkParamBlock paramBlock{};
  void* translationList[2] = {nullptr, nullptr};
};

// Milliseconds since some fixed start, wrapping at 32 bits.
uint32_t PlatformTickCount();

}  // namespace tarn

#endif  // TARN_CHANNEL_THUNKED_SERIAL_CHANNEL_H
