// The serial port on Windows: the Win32 communications functions.
#include <windows.h>

#include "serial/remote_port.h"
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
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }

  // The device name is passed exactly as stored ("COM1").
  bool Open(const char* name) override {
    if (handle_ != INVALID_HANDLE_VALUE) return Fail(ERROR_BUSY);
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(GetLastError());
    handle_ = h;
    return true;
  }

  bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

  // The record starts from all zeros, not from the port's current state:
  // no parity checking, no CTS/DSR flow control, DTR and RTS control
  // disabled, no XON/XOFF, no replacement characters, no abort on error.
  bool Configure(const PortLineConfig& config) override {
    ZeroMemory(&dcb_, sizeof dcb_);
    dcb_.DCBlength = sizeof dcb_;
    dcb_.BaudRate = config.baudRate;
    dcb_.ByteSize = config.dataBits;
    dcb_.Parity = config.parityCode;
    dcb_.StopBits = config.stopBitsCode;
    return SetCommState(handle_, &dcb_) || Fail(GetLastError());
  }

  bool SetTimeouts(uint32_t milliseconds) override {
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = milliseconds;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = milliseconds;
    return SetCommTimeouts(handle_, &t) || Fail(GetLastError());
  }

  void PurgeAll() override { (void)PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR); }
  bool PurgeInput() override {
    return PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR) || Fail(GetLastError());
  }
  bool PurgeOutput() override {
    return PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR) || Fail(GetLastError());
  }

  bool SetBreak(bool on) override {
    return (on ? SetCommBreak(handle_) : ClearCommBreak(handle_)) || Fail(GetLastError());
  }

  bool Escape(uint32_t code) override {
    return EscapeCommFunction(handle_, code) || Fail(GetLastError());
  }

  PortIo Write(uint8_t byte) override {
    DWORD written = 0;
    if (!WriteFile(handle_, &byte, 1, &written, nullptr)) return FailIo(GetLastError());
    return written == 0 ? PortIo::kTimedOut : PortIo::kDone;
  }

  PortIo Read(uint8_t* byte) override {
    DWORD got = 0;
    if (!ReadFile(handle_, byte, 1, &got, nullptr)) return FailIo(GetLastError());
    return got == 0 ? PortIo::kTimedOut : PortIo::kDone;
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    if (!CloseHandle(handle_)) return Fail(GetLastError());
    handle_ = INVALID_HANDLE_VALUE;
    return true;
  }

  int32_t LastError() const override { return static_cast<int32_t>(lastError_); }
  const char* LastErrorReason() const override { return ReasonFor(lastError_); }

 private:
  bool Fail(DWORD error) {
    lastError_ = error;
    return false;
  }
  PortIo FailIo(DWORD error) {
    lastError_ = error;
    return PortIo::kFailed;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  DCB dcb_{};
  DWORD lastError_ = 0;
};

}  // namespace

std::unique_ptr<ISerialPort> CreateLocalSerialPort() {
  return std::make_unique<Win32SerialPort>();
}

// Windows names its COM ports itself: only a remote name is remote.
bool RemoteTargetOf(const char* name, std::string* url) {
  if (name == nullptr || !serial::IsRemotePortName(name)) return false;
  *url = name;
  return true;
}

}  // namespace tarn
