// FakeNetSocket: a scripted network serial server behind the INetSocket
// seam, in virtual time. It reads what the client sends as Telnet (options,
// COM port commands, data with 0xFF doubled), keeps the data bytes as the
// serial line would see them (LineBytes), and answers as its knobs say: the
// COM port option accepted, declined or ignored; settings confirmed, changed
// or left unanswered; purges answered or not. Tests push bytes towards the
// client (ServerSends) and drop the connection (Drop). A receive with
// nothing to give advances the clock by its timeout.
#ifndef TESTS_CHANNEL_FAKE_NET_SOCKET_H
#define TESTS_CHANNEL_FAKE_NET_SOCKET_H

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tarn/channel/net_socket.h"
#include "tarn/channel/rfc2217_port.h"

namespace testsupport {

enum class ComPortAnswer { kAccept, kDecline, kIgnore };

struct FakeServer {
  // Knobs.
  tarn::NetFailure connectFailure = tarn::NetFailure::kNone;
  ComPortAnswer comPort = ComPortAnswer::kAccept;
  bool answerSettings = true;
  // Applied to the value of each settings answer (command, value).
  std::function<void(uint8_t, std::vector<uint8_t>&)> alterAnswer;
  bool answerPurge = true;
  // Sent right after each purge answer (bytes that arrive after it).
  std::vector<uint8_t> afterPurge;
  // Sent to the client once, as it offers the COM port option (for example
  // a busy server's text), then the connection closes.
  std::string turnAwayText;

  // What happened.
  std::string host;
  uint16_t port = 0;
  uint64_t nowMs = 1000;
  std::vector<uint8_t> raw;                    // every byte the client sent
  std::vector<uint8_t> lineBytes;              // the client's data, undoubled
  std::vector<std::vector<uint8_t>> commands;  // COM port commands: command, value...
  std::deque<uint8_t> toClient;
  bool closed = false;           // the server dropped the connection
  bool clientShutdown = false;   // the client said it sends no more
  bool closesOnShutdown = true;  // the server closes its side in answer
  bool connected = false;
  std::vector<uint8_t> sub;
  int state = 0;  // 0 data, 1 after IAC, 2 option verb, 3 in SB, 4 IAC in SB
  uint8_t verb = 0;

  void ServerSends(const std::vector<uint8_t>& bytes) {
    toClient.insert(toClient.end(), bytes.begin(), bytes.end());
  }
  void Drop() { closed = true; }

  void Feed(uint8_t b);
  void OnCommand();
};

class FakeNetSocket final : public tarn::INetSocket {
 public:
  explicit FakeNetSocket(FakeServer* server) : s_(server) {}
  bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) override {
    s_->host = host;
    s_->port = port;
    if (s_->connectFailure != tarn::NetFailure::kNone) {
      s_->nowMs += timeoutMs;
      return false;
    }
    s_->connected = true;  // a new connection: a fresh session
    s_->closed = false;
    s_->clientShutdown = false;
    s_->state = 0;
    s_->toClient.clear();
    return true;
  }
  bool IsOpen() const override { return s_->connected; }
  tarn::NetIo Send(const uint8_t* data, size_t size, uint32_t) override {
    if (!s_->connected || s_->closed) return tarn::NetIo::kClosed;
    for (size_t i = 0; i < size; ++i) {
      s_->raw.push_back(data[i]);
      s_->Feed(data[i]);
    }
    return tarn::NetIo::kDone;
  }
  tarn::NetIo Receive(uint8_t* buffer, size_t size, size_t* received, uint32_t timeoutMs) override {
    *received = 0;
    if (!s_->connected) return tarn::NetIo::kClosed;
    while (*received < size && !s_->toClient.empty()) {
      buffer[(*received)++] = s_->toClient.front();
      s_->toClient.pop_front();
    }
    if (*received > 0) return tarn::NetIo::kDone;
    if (s_->closed) return tarn::NetIo::kClosed;
    s_->nowMs += timeoutMs;
    return tarn::NetIo::kTimedOut;
  }
  void Shutdown() override {
    s_->clientShutdown = true;
    if (s_->closesOnShutdown) s_->closed = true;
  }
  void Close() override { s_->connected = false; }
  uint64_t NowMs() const override { return s_->nowMs; }
  tarn::NetFailure Failure() const override { return s_->connectFailure; }
  int32_t LastError() const override { return 0; }

 private:
  FakeServer* s_;
};

inline void FakeServer::Feed(uint8_t b) {
  using namespace tarn::telnet;
  switch (state) {
    case 0:
      if (b == kIac)
        state = 1;
      else
        lineBytes.push_back(b);
      return;
    case 1:
      state = 0;
      if (b == kIac) lineBytes.push_back(b);
      if (b >= kWill && b <= kDont) {
        verb = b;
        state = 2;
      }
      if (b == kSb) {
        sub.clear();
        state = 3;
      }
      return;
    case 2:
      state = 0;
      if (verb == kWill && b == kComPort) {
        if (!turnAwayText.empty()) {
          ServerSends({kIac, kDo, kComPort});
          ServerSends(std::vector<uint8_t>(turnAwayText.begin(), turnAwayText.end()));
          closed = true;
        } else if (comPort == ComPortAnswer::kAccept) {
          ServerSends({kIac, kDo, kComPort});
        } else if (comPort == ComPortAnswer::kDecline) {
          ServerSends({kIac, kDont, kComPort});
        }
      }
      return;
    case 3:
      if (b == kIac)
        state = 4;
      else
        sub.push_back(b);
      return;
    case 4:
      if (b == kIac) {
        sub.push_back(b);
        state = 3;
        return;
      }
      state = 0;
      if (b == kSe) OnCommand();
      return;
  }
}

inline void FakeServer::OnCommand() {
  using namespace tarn::telnet;
  if (sub.size() < 2 || sub[0] != kComPort) return;
  commands.emplace_back(sub.begin() + 1, sub.end());
  const uint8_t command = sub[1];
  std::vector<uint8_t> value(sub.begin() + 2, sub.end());
  const bool setting = command >= kSetBaudRate && command <= kSetStopSize;
  if ((setting && !answerSettings) || (command == kPurgeData && !answerPurge)) return;
  if (command == kSetControl) return;  // a pseudo-terminal's server: no answer
  if (setting && alterAnswer) alterAnswer(command, value);
  std::vector<uint8_t> answer = {kIac, kSb, kComPort, static_cast<uint8_t>(command + 100)};
  for (uint8_t v : value) {
    answer.push_back(v);
    if (v == kIac) answer.push_back(kIac);
  }
  answer.push_back(kIac);
  answer.push_back(kSe);
  ServerSends(answer);
  if (command == kPurgeData) ServerSends(afterPurge);
}

}  // namespace testsupport

#endif  // TESTS_CHANNEL_FAKE_NET_SOCKET_H
