// The send and receive loops of the TCP connection (see net_socket_base.h).
#include "tarn/channel/net_socket_base.h"

namespace tarn {

NetIo NetSocketBase::Send(const uint8_t* data, size_t size, uint32_t timeoutMs) {
  if (!IsOpen()) return NetIo::kClosed;
  const uint64_t deadline = NowMs() + timeoutMs;
  while (size > 0) {
    const Attempt a = SendSome(data, size);
    if (a.kind == Attempt::kMoved) {
      data += a.count;
      size -= a.count;
      continue;
    }
    if (a.kind == Attempt::kInterrupted) continue;
    if (a.kind != Attempt::kWouldBlock) return Broken(a.error);
    const NetIo waited = Await(true, deadline);
    if (waited != NetIo::kDone) return waited;
  }
  return NetIo::kDone;
}

NetIo NetSocketBase::Receive(uint8_t* buffer, size_t size, size_t* received, uint32_t timeoutMs) {
  *received = 0;
  if (!IsOpen()) return NetIo::kClosed;
  const uint64_t deadline = NowMs() + timeoutMs;
  for (;;) {
    const Attempt a = ReceiveSome(buffer, size);
    switch (a.kind) {
      case Attempt::kMoved:
        *received = a.count;
        return NetIo::kDone;
      case Attempt::kPeerClosed:
        return NetIo::kClosed;
      case Attempt::kInterrupted:
        continue;
      case Attempt::kBroken:
        return Broken(a.error);
      case Attempt::kWouldBlock:
        break;
    }
    const NetIo waited = Await(false, deadline);
    if (waited != NetIo::kDone) return waited;
  }
}

bool NetSocketBase::Fail(NetFailure failure, int error) {
  failure_ = failure;
  error_ = error;
  return false;
}

uint64_t NetSocketBase::RemainingMs(uint64_t deadline) const {
  const uint64_t now = NowMs();
  return now < deadline ? deadline - now : 0;
}

NetIo NetSocketBase::Broken(int error) {
  error_ = error;
  return NetIo::kClosed;
}

NetIo NetSocketBase::Await(bool forWrite, uint64_t deadline) {
  const uint64_t now = NowMs();
  if (now >= deadline) return NetIo::kTimedOut;
  int error = 0;
  return WaitReady(forWrite, deadline - now, &error) ? NetIo::kDone : Broken(error);
}

}  // namespace tarn
