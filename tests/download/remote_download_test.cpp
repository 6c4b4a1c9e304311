// CDownload through real network serial servers on the loopback interface:
// ser2net (and python3-serial's RFC 2217 server as a second peer) in front
// of a simulated pager's pseudo-terminal. The pager must see exactly the
// bytes a local line gives it, images and commands full of 0xFF included;
// a server that is wrong, silent, busy, refuses a setting or goes away
// mid-write must give a failure, never a hang or a success.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "network_serial_server.h"
#include "sample_pagers.h"
#include "tarn/channel/rfc2217_port.h"
#include "tarn/server/download.h"
#include "tools/pagersim/pty_server.h"

namespace tarn {
namespace {

using testsupport::NetworkSerialServer;
using Clock = std::chrono::steady_clock;
using Kind = NetworkSerialServer::Kind;

// A simulated pager over a pty, served on a thread of its own.
class PagerOnPty {
 public:
  explicit PagerOnPty(pagersim::PagerConfig config, uint32_t baud = 0) : server_(config) {
    std::string error;
    pagersim::ServeOptions options;
    options.baud = baud;
    EXPECT_TRUE(server_.Start(options, &error)) << error;
    thread_ = std::thread([this] { server_.Serve(); });
  }
  ~PagerOnPty() { Stop(); }
  void Stop() {
    if (thread_.joinable()) {
      server_.Stop();
      thread_.join();
    }
  }
  const std::string& Device() const { return server_.DevicePath(); }
  pagersim::Pager& pager() { return server_.pager(); }  // only after Stop()

 private:
  pagersim::PtyServer server_;
  std::thread thread_;
};

// A download object of the library's own, released at the end.
struct Object {
  Object() : d(static_cast<CDownload*>(CDownload::Create())) {}
  ~Object() { static_cast<IDownloadError*>(d)->Release(); }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  bool Use(const std::string& device, const std::string& line = "baud = 9600") {
    LONG result = E_FAIL;
    const std::string settings = "device = " + device + " " + line;
    return d->SetPortSettings(&result, settings.c_str()) == S_OK && result == S_OK;
  }
  LONG Code() {
    LONG code = 0;
    d->GetErrorCode(&code);
    return code;
  }
  CDownload* d;
};

pagersim::PagerConfig Config() {
  pagersim::PagerConfig config;
  config.identity = testsupport::LetterIdentity('O');
  config.identity.firstRecord[3] = 0xFF;  // identity bytes of 0xFF on the way in
  config.fastWriteAck = true;
  return config;
}

// An image in which every other byte is 0xFF, and runs of them.
std::vector<BYTE> ImageFullOfFF(size_t size) {
  std::vector<BYTE> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = (i % 2 == 0 || i % 97 < 8) ? 0xFF : BYTE(i * 31);
  return image;
}

// Identify, write, read back, activate and command mode; returns the
// pager's transcript (direction and byte, no times).
std::vector<std::pair<int, uint8_t>> RunEverything(CDownload* d, PagerOnPty& pager) {
  std::vector<std::pair<int, uint8_t>> bytes;
  EXPECT_EQ(d->Identify(), S_OK);
  const std::vector<BYTE> image = ImageFullOfFF(600);
  LONG result = E_FAIL;
  EXPECT_EQ(d->WriteMemory(&result, 0xFF00, image.data(), WORD(image.size())), S_OK);
  EXPECT_EQ(result, S_OK);
  std::vector<BYTE> back(image.size());
  EXPECT_EQ(d->ReadMemory(&result, 0xFF00, back.data(), WORD(back.size())), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(back, image);
  EXPECT_EQ(d->Activate(), S_OK);
  EXPECT_EQ(d->BeginCommands(), S_OK);
  EXPECT_EQ(d->SendCommandFF(), S_OK);
  EXPECT_EQ(d->SendBytePair(&result, 0xFF, 0xFF), S_OK);
  EXPECT_EQ(d->SendCommandAE(&result, 0xFFFFFF, 0xFFFF), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d->EndCommands(), S_OK);
  pager.Stop();
  EXPECT_TRUE(pager.pager().Violations().empty()) << pager.pager().TranscriptText();
  for (const auto& e : pager.pager().Transcript())
    bytes.emplace_back(static_cast<int>(e.direction), e.byte);
  return bytes;
}

class RemoteDownload : public ::testing::TestWithParam<Kind> {};

TEST_P(RemoteDownload, ThePagerSeesTheSameBytesAsOverALocalLine) {
  std::vector<std::pair<int, uint8_t>> local;
  {
    PagerOnPty pager(Config());
    Object o;
    ASSERT_TRUE(o.Use(pager.Device()));
    local = RunEverything(o.d, pager);
  }
  PagerOnPty pager(Config());
  NetworkSerialServer server(GetParam(), pager.Device());
  ASSERT_TRUE(server.Ok()) << server.Error();
  Object o;
  ASSERT_TRUE(o.Use(server.Url()));
  const std::vector<std::pair<int, uint8_t>> remote = RunEverything(o.d, pager);
  EXPECT_EQ(o.Code(), TARN_ERROR_OK);
  ASSERT_GT(local.size(), 1200u);
  EXPECT_EQ(remote, local);
  EXPECT_EQ(std::memcmp(pager.pager().Memory().data() + 0xFF00, ImageFullOfFF(256).data(), 256), 0);
}

INSTANTIATE_TEST_SUITE_P(Servers, RemoteDownload,
                         ::testing::Values(Kind::kSer2net, Kind::kPySerial),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                           return p.param == Kind::kSer2net ? "Ser2net" : "PySerial";
                         });

long MsSince(Clock::time_point start) {
  return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(RemoteDownloadFaults, NothingListeningOnThePortIsACantOpenFailure) {
  Object o;
  ASSERT_TRUE(o.Use("rfc2217://127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort())));
  EXPECT_EQ(o.d->Identify(), E_FAIL);
  EXPECT_EQ(o.Code(), TARN_ERROR_CANT_OPEN_PORT);
  EXPECT_STREQ(o.d->channel->FailureReason(), "connection refused");
}

TEST(RemoteDownloadFaults, AServerThatAnswersNothingFailsTheOpenInBoundedTime) {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(s, 4), 0);  // connections complete in the backlog; nobody speaks
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  Object o;
  ASSERT_TRUE(o.Use("rfc2217://127.0.0.1:" + std::to_string(ntohs(a.sin_port))));
  const auto start = Clock::now();
  EXPECT_EQ(o.d->Identify(), E_FAIL);
  EXPECT_EQ(o.Code(), TARN_ERROR_CANT_OPEN_PORT);
  EXPECT_STREQ(o.d->channel->FailureReason(), "no answer from the server");
  EXPECT_LT(MsSince(start), long(kAnswerTimeoutMs) + 1500);
  close(s);
}

TEST(RemoteDownloadFaults, ASettingTheServerCannotApplyFailsTheOpenBeforeAnyPagerByte) {
  PagerOnPty pager(Config());
  NetworkSerialServer server(Kind::kSer2net, pager.Device());
  ASSERT_TRUE(server.Ok()) << server.Error();
  Object o;
  // Five data bits with one and a half stop bits: a pseudo-terminal has no
  // such framing, and ser2net does not confirm it.
  ASSERT_TRUE(o.Use(server.Url(), "baud = 9600 data = 5 stop = 1.5"));
  EXPECT_EQ(o.d->Identify(), E_FAIL);
  EXPECT_EQ(o.Code(), TARN_ERROR_CANT_OPEN_PORT);
  EXPECT_STREQ(o.d->channel->FailureReason(), "line settings refused");
  pager.Stop();
  EXPECT_TRUE(pager.pager().Transcript().empty());
}

TEST(RemoteDownloadFaults, ASecondClientIsTurnedAwayAsPortBusy) {
  PagerOnPty pager(Config());
  NetworkSerialServer server(Kind::kSer2net, pager.Device());
  ASSERT_TRUE(server.Ok()) << server.Error();
  Object first;
  ASSERT_TRUE(first.Use(server.Url()));
  ASSERT_EQ(first.d->BeginCommands(), S_OK);  // holds the line
  Object second;
  ASSERT_TRUE(second.Use(server.Url()));
  EXPECT_EQ(second.d->Identify(), E_FAIL);
  EXPECT_EQ(second.Code(), TARN_ERROR_CANT_OPEN_PORT);
  EXPECT_STREQ(second.d->channel->FailureReason(), "port busy");
  EXPECT_EQ(first.d->SendCommandFF(), S_OK);  // the first client keeps its line
  EXPECT_EQ(first.d->EndCommands(), S_OK);
}

TEST(RemoteDownloadFaults, AServerStoppedMidWriteFailsTheWriteNeverSucceeds) {
  PagerOnPty pager(Config(), 9600);  // real line time: the write takes seconds
  NetworkSerialServer server(Kind::kSer2net, pager.Device());
  ASSERT_TRUE(server.Ok()) << server.Error();
  Object o;
  ASSERT_TRUE(o.Use(server.Url()));
  const std::vector<BYTE> image = ImageFullOfFF(4096);
  LONG result = S_OK;
  HRESULT hr = S_OK;
  const auto start = Clock::now();
  std::thread writer([&] { hr = o.d->WriteMemory(&result, 0, image.data(), WORD(image.size())); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  server.Stop();
  writer.join();
  EXPECT_NE(hr == S_OK && result == S_OK, true);
  EXPECT_TRUE(o.Code() == TARN_ERROR_COM_PORT || o.Code() == TARN_ERROR_SENDING_DATA) << o.Code();
  EXPECT_LT(MsSince(start), 15000);
}

}  // namespace
}  // namespace tarn
