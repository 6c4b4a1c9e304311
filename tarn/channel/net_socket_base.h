// What the platform TCP connections (net_socket_posix.cpp,
// net_socket_win32.cpp) share: sending all of a buffer and receiving what
// is there, each within a deadline on the socket's clock, and the record of
// the last failure. The platform supplies the single non-blocking calls
// behind a seam: one attempt to move bytes, one bounded wait until the
// socket is ready. Connecting (name resolution, one attempt per address)
// stays with the platform, which reports through Fail.
#ifndef TARN_CHANNEL_NET_SOCKET_BASE_H
#define TARN_CHANNEL_NET_SOCKET_BASE_H

#include <cstddef>
#include <cstdint>

#include "tarn/channel/net_socket.h"

namespace tarn {

class NetSocketBase : public INetSocket {
 public:
  NetIo Send(const uint8_t* data, size_t size, uint32_t timeoutMs) final;
  NetIo Receive(uint8_t* buffer, size_t size, size_t* received, uint32_t timeoutMs) final;
  NetFailure Failure() const final { return failure_; }
  int32_t LastError() const final { return error_; }

 protected:
  // What one non-blocking send or receive call did.
  struct Attempt {
    enum Kind {
      kMoved,        // `count` bytes (more than 0) went
      kWouldBlock,   // nothing now: wait for the socket
      kInterrupted,  // a signal stopped the call: call again
      kPeerClosed,   // (receive) the peer closed its side
      kBroken,       // the connection failed with `error`
    };
    Kind kind;
    size_t count = 0;
    int error = 0;
  };
  virtual Attempt SendSome(const uint8_t* data, size_t size) = 0;
  virtual Attempt ReceiveSome(uint8_t* buffer, size_t size) = 0;
  // Waits at most `timeoutMs` until the socket takes bytes (`forWrite`) or
  // has some. false: the wait itself failed with *error.
  virtual bool WaitReady(bool forWrite, uint64_t timeoutMs, int* error) = 0;

  // Records why a connection could not be made; false, for the caller.
  bool Fail(NetFailure failure, int error);
  // Forgets the last failure (a new Connect, or one that succeeded).
  void ClearFailure() { Fail(NetFailure::kNone, 0); }
  // Milliseconds from now to `deadline` on the socket's clock; 0 once past.
  uint64_t RemainingMs(uint64_t deadline) const;

 private:
  NetIo Broken(int error);
  // Waits for the socket until `deadline`: kDone when it is ready (or
  // the wait ended early), kTimedOut, or kClosed when the wait failed.
  NetIo Await(bool forWrite, uint64_t deadline);

  NetFailure failure_ = NetFailure::kNone;
  int32_t error_ = 0;
};

}  // namespace tarn

#endif  // TARN_CHANNEL_NET_SOCKET_BASE_H
