// The TCP connection on Windows: Winsock 2, a non-blocking socket waited on
// only with select, so no call blocks beyond the timeout it was given;
// TCP_NODELAY, as on POSIX. Winsock is started with the first socket and
// stopped with the last (WSAStartup and WSACleanup count their calls).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tarn/channel/net_socket_base.h"

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

class Win32NetSocket final : public NetSocketBase {
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
    ClearFailure();
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
    for (addrinfo* a = list; a != nullptr && s_ == INVALID_SOCKET; a = a->ai_next)
      TryAddress(a, RemainingMs(deadline));
    freeaddrinfo(list);
    return s_ != INVALID_SOCKET;
  }

  bool IsOpen() const override { return s_ != INVALID_SOCKET; }

  void Shutdown() override {
    if (s_ != INVALID_SOCKET) shutdown(s_, SD_SEND);
  }

  void Close() override {
    if (s_ != INVALID_SOCKET) closesocket(s_);
    s_ = INVALID_SOCKET;
  }

  uint64_t NowMs() const override { return GetTickCount64(); }

 private:
  Attempt SendSome(const uint8_t* data, size_t size) override {
    int n = ::send(s_, reinterpret_cast<const char*>(data), static_cast<int>(size), 0);
    return n > 0 ? Attempt{Attempt::kMoved, static_cast<size_t>(n)} : Unmoved();
  }

  Attempt ReceiveSome(uint8_t* buffer, size_t size) override {
    int n = ::recv(s_, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (n > 0) return {Attempt::kMoved, static_cast<size_t>(n)};
    return n == 0 ? Attempt{Attempt::kPeerClosed} : Unmoved();
  }

  // A send or receive that moved nothing: the socket is busy or broken.
  static Attempt Unmoved() {
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK ? Attempt{Attempt::kWouldBlock} : Attempt{Attempt::kBroken, 0, e};
  }

  bool WaitReady(bool forWrite, uint64_t timeoutMs, int* error) override {
    bool failed = false;
    WaitFor(s_, forWrite, timeoutMs, &failed);
    if (failed) *error = WSAGetLastError();
    return !failed;
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
    ClearFailure();  // an earlier address's failure is not this socket's
  }

  bool started_ = false;
  SOCKET s_ = INVALID_SOCKET;
};

}  // namespace

std::unique_ptr<INetSocket> CreatePlatformNetSocket() {
  return std::make_unique<Win32NetSocket>();
}

}  // namespace tarn
