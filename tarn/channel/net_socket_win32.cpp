// The TCP connection on Windows: Winsock 2, a non-blocking socket waited on
// only with select, so no call blocks beyond the timeout it was given;
// TCP_NODELAY, as on POSIX. Winsock is started with the first socket and
// stopped with the last (WSAStartup and WSACleanup count their calls).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tarn/channel/net_socket.h"

namespace tarn {
namespace {

timeval TimevalOf(uint64_t ms) {
  timeval t;
  t.tv_sec = static_cast<long>(ms / 1000);
  t.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return t;
}

// Waits until `s` is readable (or writable); true when it is.
bool WaitFor(SOCKET s, bool write, uint64_t ms, bool* failed) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(s, &errors);
  timeval t = TimevalOf(ms);
  int n = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &t);
  *failed = n == SOCKET_ERROR || (n > 0 && FD_ISSET(s, &errors));
  return n > 0 && FD_ISSET(s, &set);
}

class Win32NetSocket final : public INetSocket {
 public:
  Win32NetSocket() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Win32NetSocket() override {
    Close();
    if (started_) WSACleanup();
  }

  bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    Close();
    failure_ = NetFailure::kNone;
    error_ = 0;
    if (!started_) return Fail(NetFailure::kOther, WSASYSNOTREADY);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr)
      return Fail(NetFailure::kHostUnknown, WSAGetLastError());
    const uint64_t deadline = NowMs() + timeoutMs;
    for (addrinfo* a = list; a != nullptr && s_ == INVALID_SOCKET; a = a->ai_next) {
      const uint64_t now = NowMs();
      TryAddress(a, now < deadline ? deadline - now : 0);
    }
    freeaddrinfo(list);
    return s_ != INVALID_SOCKET;
  }

  bool IsOpen() const override { return s_ != INVALID_SOCKET; }

  NetIo Send(const uint8_t* data, size_t size, uint32_t timeoutMs) override {
    if (s_ == INVALID_SOCKET) return NetIo::kClosed;
    const uint64_t deadline = NowMs() + timeoutMs;
    while (size > 0) {
      int n = ::send(s_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
      if (n > 0) {
        data += n;
        size -= static_cast<size_t>(n);
        continue;
      }
      int e = WSAGetLastError();
      if (e != WSAEWOULDBLOCK) return Broken(e);
      const uint64_t now = NowMs();
      if (now >= deadline) return NetIo::kTimedOut;
      bool failed = false;
      WaitFor(s_, true, deadline - now, &failed);
      if (failed) return Broken(WSAGetLastError());
    }
    return NetIo::kDone;
  }

  NetIo Receive(uint8_t* buffer, size_t size, size_t* received, uint32_t timeoutMs) override {
    *received = 0;
    if (s_ == INVALID_SOCKET) return NetIo::kClosed;
    const uint64_t deadline = NowMs() + timeoutMs;
    for (;;) {
      int n = ::recv(s_, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
      if (n > 0) {
        *received = static_cast<size_t>(n);
        return NetIo::kDone;
      }
      if (n == 0) return NetIo::kClosed;
      int e = WSAGetLastError();
      if (e != WSAEWOULDBLOCK) return Broken(e);
      const uint64_t now = NowMs();
      if (now >= deadline) return NetIo::kTimedOut;
      bool failed = false;
      WaitFor(s_, false, deadline - now, &failed);
      if (failed) return Broken(WSAGetLastError());
    }
  }

  void Shutdown() override {
    if (s_ != INVALID_SOCKET) shutdown(s_, SD_SEND);
  }

  void Close() override {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

  uint64_t NowMs() const override { return GetTickCount64(); }
  NetFailure Failure() const override { return failure_; }
  int32_t LastError() const override { return error_; }

 private:
  bool Fail(NetFailure failure, int error) {
    failure_ = failure;
    error_ = error;
    return false;
  }

  NetIo Broken(int error) {
    error_ = error;
    return NetIo::kClosed;
  }

  void TryAddress(const addrinfo* a, uint64_t timeoutMs) {
    SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      Fail(NetFailure::kOther, WSAGetLastError());
      return;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    int error = 0;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        bool failed = false;
        const bool ready = WaitFor(s, true, timeoutMs, &failed);
        int len = sizeof error;
        error = 0;
        if (failed)
          getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len);
        else if (!ready)
          error = WSAETIMEDOUT;
        if (failed && error == 0) error = WSAECONNREFUSED;
      }
    }
    if (error != 0) {
      closesocket(s);
      Fail(error == WSAECONNREFUSED ? NetFailure::kRefused
           : error == WSAETIMEDOUT || error == WSAEHOSTUNREACH || error == WSAENETUNREACH
               ? NetFailure::kNoAnswer
               : NetFailure::kOther,
           error);
      return;
    }
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    s_ = s;
  }

  bool started_ = false;
  SOCKET s_ = INVALID_SOCKET;
  NetFailure failure_ = NetFailure::kNone;
  int32_t error_ = 0;
};

}  // namespace

std::unique_ptr<INetSocket> CreatePlatformNetSocket() {
  return std::make_unique<Win32NetSocket>();
}

}  // namespace tarn
