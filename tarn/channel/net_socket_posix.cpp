// The TCP connection on POSIX: a non-blocking socket waited on only with
// poll, so no call blocks beyond the timeout it was given. TCP_NODELAY: the
// pager protocol moves one byte at a time. MSG_NOSIGNAL: a connection the
// server dropped fails the send instead of raising SIGPIPE in the client's
// process.
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>

#include "tarn/channel/net_socket_base.h"

namespace tarn {
namespace {

int PollMs(uint64_t ms) {
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

class PosixNetSocket final : public NetSocketBase {
 public:
  ~PosixNetSocket() override { Close(); }

  bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    Close();
    ClearFailure();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr)
      return Fail(NetFailure::kHostUnknown, 0);
    const uint64_t deadline = NowMs() + timeoutMs;
    for (addrinfo* a = list; a != nullptr && fd_ < 0; a = a->ai_next)
      TryAddress(a, RemainingMs(deadline));
    freeaddrinfo(list);
    return fd_ >= 0;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  void Shutdown() override {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
  }

  void Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  uint64_t NowMs() const override {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }

 private:
  Attempt SendSome(const uint8_t* data, size_t size) override {
    return AttemptOf(::send(fd_, data, size, MSG_NOSIGNAL), false);
  }

  Attempt ReceiveSome(uint8_t* buffer, size_t size) override {
    return AttemptOf(::recv(fd_, buffer, size, 0), true);
  }

  // What a send's or receive's result `n` (errno with it) says.
  static Attempt AttemptOf(ssize_t n, bool receiving) {
    if (n > 0) return {Attempt::kMoved, static_cast<size_t>(n)};
    if (n == 0) return {receiving ? Attempt::kPeerClosed : Attempt::kWouldBlock};
    if (errno == EINTR) return {Attempt::kInterrupted};
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {Attempt::kWouldBlock};
    return {Attempt::kBroken, 0, errno};
  }

  bool WaitReady(bool forWrite, uint64_t timeoutMs, int* error) override {
    pollfd p{fd_, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    if (poll(&p, 1, PollMs(timeoutMs)) >= 0 || errno == EINTR) return true;
    *error = errno;
    return false;
  }

  // One address of the name; on success fd_ holds the connected socket.
  void TryAddress(const addrinfo* a, uint64_t timeoutMs) {
    int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (s < 0) {
      Fail(NetFailure::kOther, errno);
      return;
    }
    int rc = ::connect(s, a->ai_addr, a->ai_addrlen);
    int error = rc == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      pollfd p{s, POLLOUT, 0};
      int ready = poll(&p, 1, PollMs(timeoutMs));
      socklen_t len = sizeof error;
      if (ready <= 0)
        error = ETIMEDOUT;
      else if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        error = errno;
    }
    if (error != 0) {
      ::close(s);
      Fail(error == ECONNREFUSED ? NetFailure::kRefused
           : error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH
               ? NetFailure::kNoAnswer
               : NetFailure::kOther,
           error);
      return;
    }
    int one = 1;
    (void)setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = s;
    ClearFailure();
  }

  int fd_ = -1;
};

}  // namespace

std::unique_ptr<INetSocket> CreatePlatformNetSocket() {
  return std::make_unique<PosixNetSocket>();
}

}  // namespace tarn
