// CDirectSerialChannel: the serial channel that drives a local port through
// the platform's serial interface (Win32 communications functions or POSIX
// termios).
#ifndef TARN_CHANNEL_DIRECT_SERIAL_CHANNEL_H
#define TARN_CHANNEL_DIRECT_SERIAL_CHANNEL_H

#include <cstdint>
#include <memory>

#include "tarn/channel/serial_channel.h"
#include "tarn/channel/serial_port.h"

namespace tarn {

class CDirectSerialChannel : public CSerialChannel {
 public:
  CDirectSerialChannel();
  // With a given port implementation (tests).
  explicit CDirectSerialChannel(std::unique_ptr<ISerialPort> port);
  // Releases the port if it is still held (without purging), then frees
  // the device name.
  ~CDirectSerialChannel() override;

  void Open() override;
  void Close() override;
  void SetSettings(const char* text) override;
  bool SetBreak(bool on) override;
  uint32_t SetTimeout(uint32_t milliseconds) override;
  void PurgeInput() override;
  void PurgeOutput() override;
  void EscapeFunction(uint32_t code) override;
  void PutByte(uint8_t byte) override;
  uint8_t GetByte() override;

  // Settings as applied, for inspection.
  const char* DeviceName() const { return deviceName; }
  uint32_t BaudRate() const { return baudRate; }
  uint8_t ParityCode() const { return parityCode; }
  uint8_t DataBits() const { return dataBits; }
  uint8_t StopBitsCode() const { return stopBitsCode; }

 private:
  std::unique_ptr<ISerialPort> port;
  char* deviceName = nullptr;
  uint32_t baudRate = 9600;
  uint8_t parityCode = 0;
  uint8_t dataBits = 8;
  uint8_t stopBitsCode = 0;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_DIRECT_SERIAL_CHANNEL_H
