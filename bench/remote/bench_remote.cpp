// Remote lines (RFC 2217 through ser2net on loopback) against local ones, in
// real time: simulated pagers on pseudo-terminals emulating a 9600-baud
// line, driven by the download object of the library.
//
//   bench_remote            both measurements
//   bench_remote single     4 KiB write + verify: local pty, then ser2net
//   bench_remote fleet      the same job on 16 remote ports at once (one
//                           ser2net each), against one remote port
//
// A benchmark, not a test: it prints figures and takes about a minute.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "network_serial_server.h"
#include "tarn/server/download.h"
#include "tools/pagersim/pty_server.h"

namespace {

using testsupport::NetworkSerialServer;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kBaud = 9600;
constexpr size_t kImageSize = 4096;
constexpr int kFleetSize = 16;

// A simulated pager on a pty at 9600 baud, served on its own thread.
class Pager {
 public:
  Pager() {
    pagersim::PagerConfig config;
    config.identity.status = 'O';
    server_ = std::make_unique<pagersim::PtyServer>(config);
    pagersim::ServeOptions options;
    options.baud = kBaud;
    std::string error;
    ok_ = server_->Start(options, &error);
    if (!ok_) std::fprintf(stderr, "bench_remote: %s\n", error.c_str());
    if (ok_) thread_ = std::thread([this] { server_->Serve(); });
  }
  ~Pager() {
    if (thread_.joinable()) {
      server_->Stop();
      thread_.join();
    }
  }
  bool Ok() const { return ok_; }
  const std::string& Device() const { return server_->DevicePath(); }

 private:
  std::unique_ptr<pagersim::PtyServer> server_;
  std::thread thread_;
  bool ok_ = false;
};

std::vector<BYTE> Image() {
  std::vector<BYTE> image(kImageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = i % 3 == 0 ? 0xFF : BYTE(i * 13);
  return image;
}

// Write and read back; true when the pager holds the image. *seconds: the
// wall time of the job.
bool WriteAndVerify(const std::string& device, double* seconds) {
  auto* d = static_cast<tarn::CDownload*>(tarn::CDownload::Create());
  const std::string settings = "device = " + device + " baud = 9600";
  LONG result = E_FAIL;
  bool ok = d->SetPortSettings(&result, settings.c_str()) == S_OK && result == S_OK;
  const std::vector<BYTE> image = Image();
  std::vector<BYTE> back(image.size());
  const auto start = Clock::now();
  ok = ok && d->WriteMemory(&result, 0x1000, image.data(), WORD(image.size())) == S_OK &&
       result == S_OK;
  ok = ok && d->ReadMemory(&result, 0x1000, back.data(), WORD(back.size())) == S_OK &&
       result == S_OK && back == image;
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  static_cast<IDownloadError*>(d)->Release();
  return ok;
}

int Single() {
  std::printf("4 KiB write + verify at 9600 baud, local pty against ser2net on loopback\n");
  double local = 0, remote = 0;
  {
    Pager pager;
    if (!pager.Ok() || !WriteAndVerify(pager.Device(), &local)) return 1;
  }
  {
    Pager pager;
    if (!pager.Ok()) return 1;
    NetworkSerialServer server(NetworkSerialServer::Kind::kSer2net, pager.Device());
    if (!server.Ok() || !WriteAndVerify(server.Url(), &remote)) return 1;
  }
  std::printf("  local pty        %7.3f s\n", local);
  std::printf("  ser2net (rfc2217) %6.3f s\n", remote);
  std::printf("  ratio remote/local %5.3f (goal: at most 1.05)\n", remote / local);
  return 0;
}

// `count` remote ports at once; the wall time of the slowest job.
bool RemoteFleet(int count, double* seconds) {
  std::vector<std::unique_ptr<Pager>> pagers;
  std::vector<std::unique_ptr<NetworkSerialServer>> servers;
  for (int i = 0; i < count; ++i) {
    pagers.push_back(std::make_unique<Pager>());
    if (!pagers.back()->Ok()) return false;
    servers.push_back(std::make_unique<NetworkSerialServer>(NetworkSerialServer::Kind::kSer2net,
                                                            pagers.back()->Device()));
    if (!servers.back()->Ok()) return false;
  }
  std::vector<char> ok(count, 0);
  std::vector<double> each(count, 0);
  std::vector<std::thread> jobs;
  const auto start = Clock::now();
  for (int i = 0; i < count; ++i)
    jobs.emplace_back([&, i] { ok[i] = WriteAndVerify(servers[i]->Url(), &each[i]); });
  for (std::thread& t : jobs) t.join();
  *seconds = std::chrono::duration<double>(Clock::now() - start).count();
  for (char c : ok)
    if (!c) return false;
  return true;
}

int Fleet() {
  std::printf("4 KiB write + verify at 9600 baud on %d remote ports at once (one ser2net each)\n",
              kFleetSize);
  double one = 0, many = 0;
  if (!RemoteFleet(1, &one) || !RemoteFleet(kFleetSize, &many)) return 1;
  std::printf("  1 remote port    %7.3f s\n", one);
  std::printf("  %d remote ports  %7.3f s\n", kFleetSize, many);
  std::printf("  ratio %d/1        %6.3f (goal: at most 1.10)\n", kFleetSize, many / one);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "all";
  int rc = 0;
  if (what == "single" || what == "all") rc |= Single();
  if (what == "fleet" || what == "all") rc |= Fleet();
  if (rc != 0) std::fprintf(stderr, "bench_remote: a job failed\n");
  return rc;
}
