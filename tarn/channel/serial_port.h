// The serial port as CDirectSerialChannel drives it: one small interface,
// one implementation per platform (serial_port_posix.cpp,
// serial_port_win32.cpp) and one for network serial servers
// (rfc2217_port.h). Calls report success or failure; the channel turns
// failures into channel codes.
#ifndef TARN_CHANNEL_SERIAL_PORT_H
#define TARN_CHANNEL_SERIAL_PORT_H

#include <cstdint>
#include <memory>
#include <string>

namespace tarn {

// Line settings as the channel keeps them.
struct PortLineConfig {
  uint32_t baudRate;
  uint8_t dataBits;
  uint8_t parityCode;    // 0 none, 1 odd, 2 even, 3 mark
  uint8_t stopBitsCode;  // 0 one, 1 one and a half, 2 two
};

enum class PortIo { kDone, kTimedOut, kFailed };

// The extended functions ISerialPort::Escape takes (the codes of the
// platform's EscapeCommFunction, which the Win32 port passes on as they are).
enum EscapeCode : uint32_t {
  kSetXoff = 1,
  kSetXon = 2,
  kSetRts = 3,
  kClrRts = 4,
  kSetDtr = 5,
  kClrDtr = 6,
  kResetDev = 7,
  kSetBreak = 8,
  kClrBreak = 9,
};

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;
  // Opens the named device exclusively. false: the device cannot be opened
  // (LastError tells why), also when another program has it open already.
  virtual bool Open(const char* name) = 0;
  virtual bool IsOpen() const = 0;
  // Applies the line settings with all flow control off, no parity
  // checking, DTR and RTS held inactive. false also when the port reports
  // other settings in force than those asked for (a driver that silently
  // dropped one).
  virtual bool Configure(const PortLineConfig& config) = 0;
  // Applies the per-byte timeout: a one-byte read returns as soon as a byte
  // is available and waits at most `milliseconds` for one; a one-byte write
  // must complete within `milliseconds`.
  virtual bool SetTimeouts(uint32_t milliseconds) = 0;
  // Discards pending input and output both; used where the result does not
  // matter.
  virtual void PurgeAll() = 0;
  virtual bool PurgeInput() = 0;
  virtual bool PurgeOutput() = 0;
  virtual bool SetBreak(bool on) = 0;
  // The platform's extended function (an EscapeCode).
  virtual bool Escape(uint32_t code) = 0;
  virtual PortIo Write(uint8_t byte) = 0;
  virtual PortIo Read(uint8_t* byte) = 0;
  // Releases the device. false: it could not be released and stays open.
  virtual bool Close() = 0;
  // The operating system's error number of the last failure, and a short
  // static description of it for the user ("port busy", ...).
  virtual int32_t LastError() const = 0;
  virtual const char* LastErrorReason() const = 0;
};

// The port a device name calls for, chosen at each Open: a network serial
// server for a remote name ("rfc2217://HOST:PORT", or a COMn name that the
// port map sends there; see RemoteTargetOf), else the platform's local port.
std::unique_ptr<ISerialPort> CreatePlatformSerialPort();

// The platform's local serial port (serial_port_posix.cpp, _win32.cpp).
std::unique_ptr<ISerialPort> CreateLocalSerialPort();

// True when `name` names a remote port: itself, or (POSIX) through the
// runtime's port map. *url receives the remote name.
bool RemoteTargetOf(const char* name, std::string* url);

}  // namespace tarn

#endif  // TARN_CHANNEL_SERIAL_PORT_H
