// The send and receive loops the platform TCP connections share, over a
// scripted platform in virtual time: every single call's result comes from
// a script, and a wait for the socket moves the clock on by what it was
// allowed to wait.
#include "tarn/channel/net_socket_base.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tarn {
namespace {

class ScriptedSocket final : public NetSocketBase {
 public:
  using Step = NetSocketBase::Attempt;
  static Step Moved(size_t n) { return {Step::kMoved, n}; }
  static Step Busy() { return {Step::kWouldBlock}; }
  static Step Interrupted() { return {Step::kInterrupted}; }
  static Step PeerClosed() { return {Step::kPeerClosed}; }
  static Step Broken(int error) { return {Step::kBroken, 0, error}; }

  bool Connect(const std::string&, uint16_t, uint32_t) override { return open; }
  bool IsOpen() const override { return open; }
  void Shutdown() override {}
  void Close() override { open = false; }
  uint64_t NowMs() const override { return now; }

  bool open = true;
  uint64_t now = 1000;
  std::deque<Step> script;  // an empty script answers "busy"
  std::string moved;        // the bytes the script let through, in order
  std::vector<uint64_t> waits;
  int waitError = 0;                   // a wait fails with this when not 0
  uint64_t readyAfterMs = UINT64_MAX;  // how long a wait takes at most

 private:
  Step Next(const uint8_t* bytes, size_t size) {
    if (script.empty()) return Busy();
    Step s = script.front();
    script.pop_front();
    if (s.kind == Step::kMoved) {
      if (s.count > size) s.count = size;
      moved.append(reinterpret_cast<const char*>(bytes), s.count);
    }
    return s;
  }
  Step SendSome(const uint8_t* data, size_t size) override { return Next(data, size); }
  Step ReceiveSome(uint8_t* buffer, size_t size) override {
    for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>('a' + i);
    return Next(buffer, size);
  }
  bool WaitReady(bool, uint64_t timeoutMs, int* error) override {
    waits.push_back(timeoutMs);
    now += std::min(timeoutMs, readyAfterMs);
    *error = waitError;
    return waitError == 0;
  }
};

using S = ScriptedSocket;
const uint8_t kBytes[] = {'h', 'e', 'l', 'l', 'o'};

TEST(NetSocketBase, SendGoesOnAfterPartialInterruptedAndBusyCallsUntilAllIsSent) {
  S s;
  s.script = {S::Moved(2), S::Interrupted(), S::Busy(), S::Moved(1), S::Moved(5)};
  EXPECT_EQ(s.Send(kBytes, 5, 300), NetIo::kDone);
  EXPECT_EQ(s.moved, "hello");
  EXPECT_TRUE(s.script.empty());
  EXPECT_EQ(s.waits, (std::vector<uint64_t>{300}));
}

TEST(NetSocketBase, SendWaitsOnlyUntilTheDeadlineThenTimesOut) {
  S s;
  s.script = {S::Moved(1)};
  EXPECT_EQ(s.Send(kBytes, 5, 250), NetIo::kTimedOut);
  EXPECT_EQ(s.moved, "h");
  EXPECT_EQ(s.waits, (std::vector<uint64_t>{250}));
  EXPECT_EQ(s.now, 1250u);
  EXPECT_EQ(s.LastError(), 0);
}

TEST(NetSocketBase, AFailedCallOrWaitBreaksTheConnectionWithItsError) {
  S send;
  send.script = {S::Broken(32)};
  EXPECT_EQ(send.Send(kBytes, 5, 100), NetIo::kClosed);
  EXPECT_EQ(send.LastError(), 32);
  S receive;
  receive.waitError = 104;
  size_t got = 9;
  EXPECT_EQ(receive.Receive(nullptr, 0, &got, 100), NetIo::kClosed);
  EXPECT_EQ(receive.LastError(), 104);
  EXPECT_EQ(got, 0u);
}

TEST(NetSocketBase, ReceiveReturnsTheFirstBytesThatCome) {
  S s;
  s.readyAfterMs = 100;
  s.script = {S::Busy(), S::Interrupted(), S::Busy(), S::Moved(3)};
  uint8_t buffer[8] = {};
  size_t got = 0;
  EXPECT_EQ(s.Receive(buffer, sizeof buffer, &got, 500), NetIo::kDone);
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer), got), "abc");
  // The second wait gets only what is left of the timeout.
  EXPECT_EQ(s.waits, (std::vector<uint64_t>{500, 400}));
}

TEST(NetSocketBase, ReceiveTellsAPeerThatClosedFromATimeout) {
  S closed;
  closed.script = {S::PeerClosed()};
  uint8_t buffer[4];
  size_t got = 0;
  EXPECT_EQ(closed.Receive(buffer, sizeof buffer, &got, 100), NetIo::kClosed);
  EXPECT_EQ(closed.LastError(), 0);
  S quiet;
  EXPECT_EQ(quiet.Receive(buffer, sizeof buffer, &got, 100), NetIo::kTimedOut);
  EXPECT_EQ(got, 0u);
}

TEST(NetSocketBase, AClosedSocketMovesNothing) {
  S s;
  s.open = false;
  s.script = {S::Moved(5)};
  size_t got = 7;
  uint8_t buffer[4];
  EXPECT_EQ(s.Send(kBytes, 5, 100), NetIo::kClosed);
  EXPECT_EQ(s.Receive(buffer, sizeof buffer, &got, 100), NetIo::kClosed);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(s.script.size(), 1u);
}

}  // namespace
}  // namespace tarn
