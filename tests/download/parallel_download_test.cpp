// Several download objects in one process, each used by its own thread:
// eight threads each initialise the runtime, create CDownload by ProgID,
// identify, write, read back and verify a block on a simulated pager of
// their own, and release the object, all at the same time. Run under
// ThreadSanitizer (the tsan preset) it checks the runtime's class and
// library tables, the framework's reference and lock counts and the
// library's shared state for data races.
#include <gtest/gtest.h>
#include <tarnholm/interfaces.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/pagersim/pty_server.h"

namespace {

class Pager {
 public:
  Pager() {
    pagersim::PagerConfig config;
    config.fastWriteAck = true;
    std::string error;
    EXPECT_TRUE(server_.Start({}, &error)) << error;
    thread_ = std::thread([this] { server_.Serve(); });
  }
  ~Pager() {
    server_.Stop();
    thread_.join();
  }
  std::string Settings() const { return "device = " + server_.DevicePath() + " baud = 9600"; }

 private:
  pagersim::PtyServer server_;
  std::thread thread_;
};

// One thread's whole job; returns "" or what went wrong.
std::string Job(const std::string& settings, int index) {
  if (CoInitialize(nullptr) != S_OK) return "CoInitialize";
  std::string failure;
  CLSID clsid;
  void* p = nullptr;
  if (CLSIDFromProgID(OLESTR("BRENTAR.TARN"), &clsid) != S_OK ||
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownloadTransfer, &p) != S_OK) {
    CoUninitialize();
    return "create";
  }
  auto* transfer = static_cast<IDownloadTransfer*>(p);
  IDownloadState* state = nullptr;
  transfer->QueryInterface(IID_IDownloadState, reinterpret_cast<void**>(&state));
  LONG result = E_FAIL;
  std::vector<BYTE> data(16), back(16, 0);
  for (int i = 0; i < 16; ++i) data[i] = static_cast<BYTE>(index * 16 + i);
  WORD address = static_cast<WORD>(0x1000 + index * 0x100);
  if (!state || state->SetPortSettings(&result, settings.c_str()) != S_OK || result != S_OK)
    failure = "settings";
  else if (transfer->Identify() != S_OK)
    failure = "identify";
  else if (transfer->WriteMemory(&result, address, data.data(), 16) != S_OK || result != S_OK)
    failure = "write";
  else if (transfer->ReadMemory(&result, address, back.data(), 16) != S_OK || result != S_OK)
    failure = "read";
  else if (back != data)
    failure = "read back differs";
  if (state) state->Release();
  transfer->Release();
  CoFreeUnusedLibraries();
  CoUninitialize();
  return failure;
}

TEST(DownloadParallel, EightObjectsOnEightPagersAtOnce) {
  char dir[] = "/tmp/tarnparXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  setenv("COMRT_REGISTRY", (std::string(dir) + "/registry").c_str(), 1);
  std::string cmd = std::string(REGSVR_PATH) + " " + TARN_LIBRARY_PATH + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);

  constexpr int kPagers = 8;
  std::vector<std::unique_ptr<Pager>> pagers;
  for (int i = 0; i < kPagers; ++i) pagers.push_back(std::make_unique<Pager>());
  std::vector<std::string> failures(kPagers);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kPagers; ++i)
    threads.emplace_back([&, i] {
      ++ready;
      while (ready.load() < kPagers) std::this_thread::yield();  // start together
      failures[i] = Job(pagers[i]->Settings(), i);
    });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kPagers; ++i) EXPECT_EQ(failures[i], "") << "pager " << i;
  pagers.clear();
  cmd = std::string("rm -rf ") + dir;
  (void)std::system(cmd.c_str());
}

}  // namespace
