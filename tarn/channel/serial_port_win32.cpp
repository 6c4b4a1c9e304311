// The serial port on Windows: the Win32 communications functions.
#include <windows.h>

#include "tarn/channel/serial_port.h"

namespace tarn {
namespace {

const char* ReasonFor(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return "port busy";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "no such device";
    default:
      return "system error";
  }
}

class Win32SerialPort final : public ISerialPort {
 public:
  ~Win32SerialPort() override {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }

  // The device name is passed exactly as stored ("COM1").
  bool Open(const char* name) override {
    if (handle != INVALID_HANDLE_VALUE) return Fail(ERROR_BUSY);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    handle = h;
    return true;
  }

  bool IsOpen() const override { return handle != INVALID_HANDLE_VALUE; }

  // The record starts from all zeros, not from the port's current state:
  // no parity checking, no CTS/DSR flow control, DTR and RTS control
  // disabled, no XON/XOFF, no replacement characters, no abort on error.
  bool Configure(const PortLineConfig& config) override {
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = config.baudRate;
    dcb.ByteSize = config.dataBits;
    dcb.Parity = config.parityCode;
    dcb.StopBits = config.stopBitsCode;
    return SetCommState(handle, &dcb) || Fail(GetLastError());
  }

  bool SetTimeouts(uint32_t milliseconds) override {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = milliseconds;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = milliseconds;
    return SetCommTimeouts(handle, &t) || Fail(GetLastError());
  }

  void PurgeAll() override { (void)PurgeComm(handle, PURGE_TXCLEAR | PURGE_RXCLEAR); }
  bool PurgeInput() override {
    return PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR) || Fail(GetLastError());
  }
  bool PurgeOutput() override {
    return PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR) || Fail(GetLastError());
  }

  bool SetBreak(bool on) override {
    return (on ? SetCommBreak(handle) : ClearCommBreak(handle)) || Fail(GetLastError());
  }

  bool Escape(uint32_t code) override {
    return EscapeCommFunction(handle, code) || Fail(GetLastError());
  }

  PortIo Write(uint8_t byte) override {
    DWORD written = 0;
    if (!WriteFile(handle, &byte, 1, &written, nullptr)) return FailIo(GetLastError());
    return written == 0 ? PortIo::kTimedOut : PortIo::kDone;
  }

  PortIo Read(uint8_t* byte) override {
    DWORD got = 0;
    if (!ReadFile(handle, byte, 1, &got, nullptr)) return FailIo(GetLastError());
    return got == 0 ? PortIo::kTimedOut : PortIo::kDone;
  }

  bool Close() override {
    if (handle == INVALID_HANDLE_VALUE) return true;
    if (!CloseHandle(handle)) return Fail(GetLastError());
    handle = INVALID_HANDLE_VALUE;
    return true;
  }

  int32_t LastError() const override { return static_cast<int32_t>(lastError); }
  const char* LastErrorReason() const override { return ReasonFor(lastError); }

 private:
  bool Fail(DWORD error) {
    lastError = error;
    return false;
  }
  PortIo FailIo(DWORD error) {
    lastError = error;
    return PortIo::kFailed;
  }

  HANDLE handle = INVALID_HANDLE_VALUE;
  DCB dcb{};
  DWORD lastError = 0;
};

}  // namespace

std::unique_ptr<ISerialPort> CreatePlatformSerialPort() {
  return std::make_unique<Win32SerialPort>();
}

}  // namespace tarn
