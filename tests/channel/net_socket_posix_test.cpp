// The POSIX TCP connection against a listener on the loopback interface:
// bytes both ways, the peer's close told apart from silence, and a port
// nobody listens on refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>

#include "tarn/channel/net_socket.h"

namespace tarn {
namespace {

// A listening socket on 127.0.0.1 with a port the system chose.
class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(fd_, 1) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    port_ = ntohs(a.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) close(fd_);
  }
  uint16_t Port() const { return port_; }
  // The next connection's descriptor (-1 when none comes).
  int Accept() const { return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(PosixNetSocket, MovesBytesBothWaysAndTellsThePeersCloseFromSilence) {
  Listener listener;
  ASSERT_NE(listener.Port(), 0);
  std::unique_ptr<INetSocket> s = CreatePlatformNetSocket();
  ASSERT_TRUE(s->Connect("127.0.0.1", listener.Port(), 2000));
  const int peer = listener.Accept();
  ASSERT_GE(peer, 0);

  const uint8_t out[] = {0xAA, 0x86, 0xFF};
  EXPECT_EQ(s->Send(out, sizeof out, 1000), NetIo::kDone);
  uint8_t got[8] = {};
  ASSERT_EQ(read(peer, got, sizeof got), 3);
  EXPECT_EQ(got[2], 0xFF);

  size_t n = 0;
  EXPECT_EQ(s->Receive(got, sizeof got, &n, 50), NetIo::kTimedOut);  // silence
  ASSERT_EQ(write(peer, "\x8B", 1), 1);
  EXPECT_EQ(s->Receive(got, sizeof got, &n, 2000), NetIo::kDone);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(got[0], 0x8B);

  close(peer);
  EXPECT_EQ(s->Receive(got, sizeof got, &n, 2000), NetIo::kClosed);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(s->LastError(), 0);  // an orderly close, not a failure
}

TEST(PosixNetSocket, APortNobodyListensOnIsRefused) {
  uint16_t port = 0;
  {
    Listener gone;  // a port that was free a moment ago
    port = gone.Port();
  }
  ASSERT_NE(port, 0);
  std::unique_ptr<INetSocket> s = CreatePlatformNetSocket();
  EXPECT_FALSE(s->Connect("127.0.0.1", port, 2000));
  EXPECT_FALSE(s->IsOpen());
  EXPECT_EQ(s->Failure(), NetFailure::kRefused);
  EXPECT_NE(s->LastError(), 0);
}

}  // namespace
}  // namespace tarn
