// Rfc2217Port: a serial line on a network serial server, reached over TCP
// and driven through the Telnet COM port control option (RFC 2217). It is
// an ISerialPort like the platform's own, so the direct channel drives a
// remote line with the same protocol, pauses, timeouts and failure codes as
// a local one; only the socket below it is platform code (net_socket.h).
//
// - Open ("rfc2217://HOST:PORT") connects (at most kConnectTimeoutMs),
//   offers binary transmission both ways and the COM port option, and waits
//   for the server to accept the option and answer a purge of both buffers
//   (at most kAnswerTimeoutMs each). A server that closes the connection
//   during that set-up after saying something (ser2net: "Port already in
//   use") is "port busy"; one that never answers is "no answer from the
//   server"; one that declines the option is "not an RFC 2217 server".
// - Configure sends SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE
//   and waits for the server's answers: an answer that differs from the
//   request, or none within kAnswerTimeoutMs, fails it, as a local driver
//   that drops a setting does. It also asks for no flow control and DTR and
//   RTS off.
// - Line control (SET-CONTROL: flow control, DTR, RTS, break) is sent and
//   never waited for: a server on a pseudo-terminal does not answer
//   modem-line control, and the pager protocol does not depend on it. Any
//   answer that does come is read and dropped.
// - PurgeInput sends PURGE-DATA for the server's receive buffer, waits for
//   its answer and drops every byte that arrived before it; PurgeOutput
//   sends PURGE-DATA for the transmit buffer without waiting.
// - Data: every 0xFF byte is doubled on the way out and an IAC IAC pair is
//   one 0xFF on the way in; Telnet commands and subnegotiations in the
//   stream are taken out of it. Unrequested options are declined.
// - Close ends the connection and waits (at most kAnswerTimeoutMs) for the
//   server to close its side: a server frees its line only then.
// - A connection the server drops fails the next read or write at once
//   (never a timeout, never a success); the purges of a dropped connection
//   succeed, so the channel can still close it.
#ifndef TARN_CHANNEL_RFC2217_PORT_H
#define TARN_CHANNEL_RFC2217_PORT_H

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "tarn/channel/net_socket.h"
#include "tarn/channel/serial_port.h"

namespace tarn {

inline constexpr uint32_t kConnectTimeoutMs = 3000;
inline constexpr uint32_t kAnswerTimeoutMs = 2000;

// Telnet and COM port option bytes.
namespace telnet {
inline constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                         kSe = 240;
inline constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
// Client commands; the server answers with the command plus 100.
inline constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                         kSetControl = 5, kFlowSuspend = 8, kFlowResume = 9, kPurgeData = 12;
inline constexpr uint8_t kServerOffset = 100;
}  // namespace telnet

// The bytes that carry `data` over Telnet: each 0xFF doubled.
std::vector<uint8_t> TelnetEscape(const uint8_t* data, size_t size);

class Rfc2217Port final : public ISerialPort {
 public:
  explicit Rfc2217Port(std::unique_ptr<INetSocket> socket);

  bool Open(const char* name) override;
  bool IsOpen() const override;
  bool Configure(const PortLineConfig& config) override;
  bool SetTimeouts(uint32_t milliseconds) override;
  void PurgeAll() override;
  bool PurgeInput() override;
  bool PurgeOutput() override;
  bool SetBreak(bool on) override;
  bool Escape(uint32_t code) override;
  PortIo Write(uint8_t byte) override;
  PortIo Read(uint8_t* byte) override;
  bool Close() override;
  int32_t LastError() const override { return lastError_; }
  const char* LastErrorReason() const override { return reason_; }

 private:
  enum class Parse { kData, kIac, kOption, kSub, kSubIac };
  enum class Offer { kPending, kAccepted, kDeclined };

  bool Fail(const char* reason, int32_t error = 0);
  void ResetSession();
  bool Negotiate();
  // Sends a COM port command with its value (escaped).
  bool SendCommand(uint8_t command, const std::vector<uint8_t>& value);
  bool SendControl(uint8_t value) { return SendCommand(telnet::kSetControl, {value}); }
  bool SendRaw(const std::vector<uint8_t>& bytes, uint32_t timeoutMs);
  // Receives once (at most timeoutMs) and parses what came.
  NetIo Pump(uint32_t timeoutMs);
  // Pumps until `done` holds, the deadline passes or the connection closes.
  template <typename Done>
  NetIo PumpUntil(Done done, uint32_t timeoutMs);
  void Feed(uint8_t byte);
  void OnOption(uint8_t verb, uint8_t option);
  void OnSubnegotiation();
  bool Answered(uint8_t command) const { return answered_[command]; }

  std::unique_ptr<INetSocket> socket_;
  bool open_ = false;
  bool lost_ = false;  // the server closed the connection
  uint32_t timeoutMs_ = 200;
  Parse state_ = Parse::kData;
  uint8_t verb_ = 0;
  std::vector<uint8_t> sub_;
  std::deque<uint8_t> inbox_;
  size_t purgeCut_ = 0;       // bytes of inbox_ that arrived before the purge answer
  bool inputPurged_ = false;  // the server answered a purge of our input
  Offer comPort_ = Offer::kPending;
  std::array<bool, 32> answered_{};
  std::array<std::vector<uint8_t>, 32> answers_{};
  int32_t lastError_ = 0;
  const char* reason_ = nullptr;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_RFC2217_PORT_H
