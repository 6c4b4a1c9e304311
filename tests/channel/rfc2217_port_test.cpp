// The network serial port (RFC 2217) under the direct channel, against a
// scripted server in virtual time: the option negotiation, the line
// settings and their confirmation, 0xFF doubling both ways, purges, and
// every way a server can fail the client, each with its channel code.
#include "tarn/channel/rfc2217_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "code_of.h"
#include "fake_net_socket.h"
#include "tarn/channel/direct_serial_channel.h"

namespace tarn {
namespace {

using testsupport::CodeOf;
using testsupport::ComPortAnswer;
using testsupport::FakeNetSocket;
using testsupport::FakeServer;
using Bytes = std::vector<uint8_t>;

constexpr const char* kSettings = "device = rfc2217://127.0.0.1:7001 baud = 9600";

class RemoteChannel : public ::testing::Test {
 protected:
  RemoteChannel() : ch(std::make_unique<Rfc2217Port>(std::make_unique<FakeNetSocket>(&server))) {
    ch.SetSettings(kSettings);
    ch.SetEchoCancel(false);
  }
  // The COM port commands the client sent with this command byte.
  std::vector<Bytes> Sent(uint8_t command) const {
    std::vector<Bytes> out;
    for (const Bytes& c : server.commands)
      if (c[0] == command) out.emplace_back(c.begin() + 1, c.end());
    return out;
  }
  FakeServer server;
  CDirectSerialChannel ch;
};

TEST_F(RemoteChannel, OpenNegotiatesBinaryAndTheOptionThenSetsEveryLineSetting) {
  ch.SetSettings("baud = 19200 data = 7 parity = even stop = 2");
  ch.Open();
  EXPECT_TRUE(ch.IsOpen());
  EXPECT_EQ(server.host, "127.0.0.1");
  EXPECT_EQ(server.port, 7001);
  const Bytes offer = {255, 251, 0, 255, 253, 0, 255, 251, 3, 255, 253, 3, 255, 251, 44};
  ASSERT_GE(server.raw.size(), offer.size());
  EXPECT_EQ(Bytes(server.raw.begin(), server.raw.begin() + offer.size()), offer);
  EXPECT_EQ(Sent(telnet::kSetBaudRate), std::vector<Bytes>({{0x00, 0x00, 0x4B, 0x00}}));
  EXPECT_EQ(Sent(telnet::kSetDataSize), std::vector<Bytes>({{7}}));
  EXPECT_EQ(Sent(telnet::kSetParity), std::vector<Bytes>({{3}}));  // even
  EXPECT_EQ(Sent(telnet::kSetStopSize), std::vector<Bytes>({{2}}));
  // No flow control, DTR off, RTS off; never waited for.
  EXPECT_EQ(Sent(telnet::kSetControl), std::vector<Bytes>({{1}, {9}, {12}}));
  EXPECT_TRUE(server.lineBytes.empty());
  ch.Close();
  EXPECT_FALSE(server.connected);
}

TEST_F(RemoteChannel, CloseWaitsBoundedlyForTheServerToLetTheLineGo) {
  ch.Open();
  uint64_t t = server.nowMs;
  ch.Close();
  EXPECT_TRUE(server.clientShutdown);
  EXPECT_FALSE(server.connected);
  EXPECT_EQ(server.nowMs, t);  // the server closed at once: no wait
  server = FakeServer();
  server.closesOnShutdown = false;  // a server that keeps its side open
  ch.Open();
  t = server.nowMs;
  ch.Close();
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_FALSE(server.connected);
  EXPECT_EQ(server.nowMs - t, kAnswerTimeoutMs);
}

TEST_F(RemoteChannel, ParityAndStopCodesMapToTheOptionsValues) {
  ch.SetSettings("data = 5 parity = mark stop = 1.5");
  ch.Open();
  EXPECT_EQ(Sent(telnet::kSetParity), std::vector<Bytes>({{4}}));
  EXPECT_EQ(Sent(telnet::kSetStopSize), std::vector<Bytes>({{3}}));
  ch.Close();
  ch.SetSettings("data = 8 parity = odd stop = 1");
  ch.Open();
  EXPECT_EQ(Sent(telnet::kSetParity).back(), Bytes({2}));
  EXPECT_EQ(Sent(telnet::kSetStopSize).back(), Bytes({1}));
}

TEST_F(RemoteChannel, DataBytes0xFFAreDoubledOutAndUndoubledIn) {
  ch.Open();
  const size_t before = server.raw.size();
  const Bytes out = {0x01, 0xFF, 0x02, 0xFF, 0xFF, 0xAA};
  for (uint8_t b : out) ch.WriteByte(b);
  EXPECT_EQ(server.lineBytes, out);
  EXPECT_EQ(Bytes(server.raw.begin() + before, server.raw.end()),
            Bytes({0x01, 0xFF, 0xFF, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xAA}));
  // In: IAC IAC is one 0xFF; a NOP and a modem-state notice are no data.
  server.ServerSends(
      {0x10, 0xFF, 0xFF, 0x20, 0xFF, 241, 0xFF, 250, 44, 107, 0x30, 0xFF, 240, 0xFF, 0xFF, 0x40});
  Bytes in;
  for (int i = 0; i < 5; ++i) in.push_back(ch.ReadByte());
  EXPECT_EQ(in, Bytes({0x10, 0xFF, 0x20, 0xFF, 0x40}));
  const uint64_t t = server.nowMs;
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), kChannelReadTimeout);
  EXPECT_EQ(server.nowMs - t, ch.GetTimeout());  // the channel's timeout, in full
}

TEST_F(RemoteChannel, EchoCancellingReadsTheEchoOfADoubledByteOnce) {
  ch.Open();
  ch.SetEchoCancel(true);
  server.ServerSends({0xFF, 0xFF, 0x55});  // the line's echo of 0xFF, then an answer
  ch.WriteByte(0xFF);
  EXPECT_EQ(ch.ReadByte(), 0x55);
}

TEST_F(RemoteChannel, ASettingTheServerChangesOrDoesNotConfirmFailsOpen) {
  server.alterAnswer = [](uint8_t command, Bytes& value) {
    if (command == telnet::kSetBaudRate) value = {0x00, 0x00, 0x96, 0x00};  // 38400
  };
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), kChannelControlFailed);
  EXPECT_FALSE(ch.IsOpen());
  EXPECT_STREQ(ch.FailureReason(), "line settings refused");
  EXPECT_FALSE(server.connected);

  server.alterAnswer = [](uint8_t command, Bytes& value) {
    if (command == telnet::kSetStopSize) value = {1};
  };
  ch.SetSettings("stop = 2");
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), kChannelControlFailed);

  server.alterAnswer = nullptr;
  server.answerSettings = false;  // a setting the server cannot apply goes unanswered
  const uint64_t t = server.nowMs;
  EXPECT_EQ(CodeOf([&] { ch.Open(); }), kChannelControlFailed);
  EXPECT_STREQ(ch.FailureReason(), "line settings refused");
  EXPECT_GE(server.nowMs - t, kAnswerTimeoutMs);
  EXPECT_LE(server.nowMs - t, 2 * kAnswerTimeoutMs);
}

TEST_F(RemoteChannel, ADroppedConnectionFailsReadsAndWritesAtOnceAndStillCloses) {
  ch.Open();
  server.ServerSends({0x42});
  server.Drop();
  EXPECT_EQ(ch.ReadByte(), 0x42);  // what came before the drop is still read
  const uint64_t t = server.nowMs;
  // The write is the first to meet the drop.
  EXPECT_EQ(CodeOf([&] { ch.WriteByte(0x01); }), kChannelWriteFailed);
  EXPECT_EQ(CodeOf([&] { ch.WriteByte(0x02); }), kChannelWriteFailed);
  EXPECT_EQ(CodeOf([&] { ch.ReadByte(); }), kChannelReadFailed);
  EXPECT_EQ(server.nowMs, t);  // no timeout waited out
  EXPECT_EQ(CodeOf([&] { ch.Close(); }), 0);
  EXPECT_FALSE(ch.IsOpen());
}

TEST_F(RemoteChannel, OpenFailuresNameTheirCause) {
  struct Case {
    const char* what;
    std::function<void(FakeServer&)> set;
    const char* reason;
  };
  const Case cases[] = {
      {"refused", [](FakeServer& s) { s.connectFailure = NetFailure::kRefused; },
       "connection refused"},
      {"silent host", [](FakeServer& s) { s.connectFailure = NetFailure::kNoAnswer; },
       "no answer from the host"},
      {"unknown host", [](FakeServer& s) { s.connectFailure = NetFailure::kHostUnknown; },
       "host not found"},
      {"declines", [](FakeServer& s) { s.comPort = ComPortAnswer::kDecline; },
       "not an RFC 2217 server"},
      {"says nothing", [](FakeServer& s) { s.comPort = ComPortAnswer::kIgnore; },
       "no answer from the server"},
      {"no purge answer", [](FakeServer& s) { s.answerPurge = false; },
       "no answer from the server"},
      {"busy", [](FakeServer& s) { s.turnAwayText = "Port already in use\r\n"; }, "port busy"},
  };
  for (const Case& c : cases) {
    FakeServer server;
    c.set(server);
    CDirectSerialChannel channel(
        std::make_unique<Rfc2217Port>(std::make_unique<FakeNetSocket>(&server)));
    channel.SetSettings(kSettings);
    EXPECT_EQ(CodeOf([&] { channel.Open(); }), kChannelCantOpen) << c.what;
    EXPECT_FALSE(channel.IsOpen()) << c.what;
    EXPECT_STREQ(channel.FailureReason(), c.reason) << c.what;
    EXPECT_FALSE(server.connected) << c.what;
    EXPECT_LE(server.nowMs, 1000 + kConnectTimeoutMs + 2 * kAnswerTimeoutMs) << c.what;
  }
}

TEST_F(RemoteChannel, ABadRemoteNameIsNeverConnected) {
  for (const char* name : {"rfc2217://127.0.0.1", "rfc2217://:7001", "rfc2217://h:0",
                           "rfc2217://h:70000", "rfc2217://[::1:7001", "rfc2217://h:7001?x"}) {
    FakeServer server;
    CDirectSerialChannel channel(
        std::make_unique<Rfc2217Port>(std::make_unique<FakeNetSocket>(&server)));
    channel.SetSettings((std::string("device = ") + name).c_str());
    EXPECT_EQ(CodeOf([&] { channel.Open(); }), kChannelCantOpen) << name;
    EXPECT_STREQ(channel.FailureReason(), "not a valid rfc2217://HOST:PORT name") << name;
    EXPECT_TRUE(server.host.empty()) << name;
  }
}

TEST_F(RemoteChannel, PurgeInputDropsWhatCameBeforeItsAnswerAndKeepsWhatCameAfter) {
  ch.Open();
  server.ServerSends({0x01, 0x02});
  server.afterPurge = {0x03};
  ch.PurgeInput();
  EXPECT_EQ(Sent(telnet::kPurgeData).back(), Bytes({1}));
  EXPECT_EQ(ch.ReadByte(), 0x03);
  ch.PurgeOutput();
  EXPECT_EQ(Sent(telnet::kPurgeData).back(), Bytes({2}));
  server.answerPurge = false;
  EXPECT_EQ(CodeOf([&] { ch.PurgeInput(); }), kChannelControlFailed);
}

TEST_F(RemoteChannel, UnrequestedOptionsAreDeclinedAndAnswersToOursAreNotRepeated) {
  ch.Open();
  const size_t before = server.raw.size();
  // WILL ECHO, DO TERMINAL-TYPE, and the answers to our own offers again.
  server.ServerSends({255, 251, 1, 255, 253, 24, 255, 251, 0, 255, 253, 0, 255, 253, 44, 0x77});
  EXPECT_EQ(ch.ReadByte(), 0x77);
  EXPECT_EQ(Bytes(server.raw.begin() + before, server.raw.end()),
            Bytes({255, 254, 1, 255, 252, 24}));
}

TEST_F(RemoteChannel, BreakAndLineControlGoOutAsSetControlWithoutWaiting) {
  ch.Open();
  const uint64_t t = server.nowMs;
  ch.SetBreak(true);
  ch.SetBreak(false);
  ch.EscapeFunction(5);  // DTR on
  ch.EscapeFunction(4);  // RTS off
  ch.EscapeFunction(8);  // break on
  ch.EscapeFunction(9);  // break off
  EXPECT_EQ(server.nowMs, t);
  const std::vector<Bytes> controls = Sent(telnet::kSetControl);
  EXPECT_EQ(std::vector<Bytes>(controls.end() - 6, controls.end()),
            std::vector<Bytes>({{5}, {6}, {8}, {12}, {5}, {6}}));
  EXPECT_EQ(CodeOf([&] { ch.EscapeFunction(99); }), kChannelControlFailed);
}

}  // namespace
}  // namespace tarn
