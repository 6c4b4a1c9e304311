// A TCP connection as the network serial port drives it: one small
// interface, one implementation per platform (net_socket_posix.cpp,
// net_socket_win32.cpp), and fakes in the tests. Every wait is bounded by
// the timeout the caller passes; the clock is the socket's own, so a fake
// can run in virtual time.
#ifndef TARN_CHANNEL_NET_SOCKET_H
#define TARN_CHANNEL_NET_SOCKET_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tarn {

enum class NetIo {
  kDone,      // bytes moved
  kTimedOut,  // nothing moved within the timeout
  kClosed,    // the peer closed the connection or it broke
};

// Why a connection could not be made.
enum class NetFailure {
  kNone,
  kRefused,      // nothing listens on that port
  kNoAnswer,     // the host did not answer within the timeout
  kHostUnknown,  // the name does not resolve
  kOther,        // any other system error
};

class INetSocket {
 public:
  virtual ~INetSocket() = default;
  // Connects to host:port (IPv4, IPv6 or a name), waiting at most
  // `timeoutMs`; no delay on small writes. false: Failure() tells why.
  virtual bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) = 0;
  virtual bool IsOpen() const = 0;
  // Sends all `size` bytes, waiting at most `timeoutMs` for room.
  virtual NetIo Send(const uint8_t* data, size_t size, uint32_t timeoutMs) = 0;
  // Receives what is there, at most `size` bytes, waiting at most
  // `timeoutMs` for the first one. *received is the count.
  virtual NetIo Receive(uint8_t* buffer, size_t size, size_t* received, uint32_t timeoutMs) = 0;
  // Tells the peer that nothing more will be sent (TCP FIN); receiving
  // goes on until the peer closes its side.
  virtual void Shutdown() = 0;
  virtual void Close() = 0;
  // Milliseconds on the socket's clock (monotonic; any origin).
  virtual uint64_t NowMs() const = 0;
  virtual NetFailure Failure() const = 0;
  // The system's error number of the last failure (0 if none).
  virtual int32_t LastError() const = 0;
};

std::unique_ptr<INetSocket> CreatePlatformNetSocket();

}  // namespace tarn

#endif  // TARN_CHANNEL_NET_SOCKET_H
