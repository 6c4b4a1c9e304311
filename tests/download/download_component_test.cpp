// CDownload as a client sees it: created by ProgID through the runtime after
// registration into a private registry, talking to a simulated pager over a
// real pseudo-terminal. Only the public headers and the runtime are used
// for the component; pagersim runs on a thread of the test.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <tarnholm/interfaces.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "registered_components.h"
#include "sample_pagers.h"
#include "tools/pagersim/pty_server.h"

namespace {

const auto* const g_registry = ::testing::AddGlobalTestEnvironment(
    new testsupport::RegisteredComponents(REGSVR_PATH, {TARN_LIBRARY_PATH}));

template <class T>
T* Query(IUnknown* object, REFIID iid) {
  void* p = nullptr;
  EXPECT_EQ(object->QueryInterface(iid, &p), S_OK);
  return static_cast<T*>(p);
}

// One CDownload with all four interfaces.
struct Download {
  Download() {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(OLESTR("BRENTAR.TARN"), &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_Download));
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDownloadError, &p), S_OK);
    error = static_cast<IDownloadError*>(p);
    state = Query<IDownloadState>(error, IID_IDownloadState);
    transfer = Query<IDownloadTransfer>(error, IID_IDownloadTransfer);
    commands = Query<IPagerCommands>(error, IID_IPagerCommands);
  }
  ~Download() {
    commands->Release();
    transfer->Release();
    state->Release();
    error->Release();
  }
  LONG Code() {
    LONG code = 0;
    EXPECT_EQ(error->GetErrorCode(&code), S_OK);
    return code;
  }
  std::string Text() {
    const char* text = nullptr;
    EXPECT_EQ(error->GetErrorText(&text), S_OK);
    return text != nullptr ? text : "<null>";
  }
  IDownloadError* error = nullptr;
  IDownloadState* state = nullptr;
  IDownloadTransfer* transfer = nullptr;
  IPagerCommands* commands = nullptr;
};

// A simulated pager served over a pty on a thread of its own.
class SimulatedPager {
 public:
  explicit SimulatedPager(pagersim::PagerConfig config) : server_(config) {
    config.fastWriteAck = true;
    std::string error;
    EXPECT_TRUE(server_.Start({}, &error)) << error;
    thread_ = std::thread([this] { server_.Serve(); });
  }
  ~SimulatedPager() { Stop(); }
  void Stop() {
    if (thread_.joinable()) {
      server_.Stop();
      thread_.join();
    }
  }
  std::string Settings() const { return "device = " + server_.DevicePath() + " baud = 9600"; }
  pagersim::Pager& pager() { return server_.pager(); }  // only after Stop()

 private:
  pagersim::PtyServer server_;
  std::thread thread_;
};

pagersim::PagerConfig Config(uint8_t status = 'O') {
  pagersim::PagerConfig config;
  config.identity = testsupport::LetterIdentity(status);
  config.fastWriteAck = true;
  return config;
}

HRESULT (*CanUnloadNow())() {
  void* library = dlopen(TARN_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllCanUnloadNow"));
  dlclose(library);
  return fn;
}

TEST(DownloadObject, AnswersItsFourInterfacesAndKeepsTheLibraryLoaded) {
  {
    Download d;
    EXPECT_EQ(d.Code(), 1);
    EXPECT_EQ(d.Text(), "OK");
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(d.error->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    IUnknown* a = Query<IUnknown>(d.state, IID_IUnknown);
    IUnknown* b = Query<IUnknown>(d.commands, IID_IUnknown);
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();
    auto canUnload = CanUnloadNow();
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE);
  }
  auto canUnload = CanUnloadNow();
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(DownloadObject, FailedChannelInitialisationIsErrorSeven) {
  for (const char* platform : {"0", "fail"}) {
    // Win32s, or no version: the thunked channel.
    setenv("TARN_TEST_FORCE_PLATFORM_ID", platform, 1);
    setenv("TARN_THUNK_LIBRARY", "/nonexistent/libnothing.so", 1);
    Download d;
    EXPECT_EQ(d.Code(), 8) << platform;
    EXPECT_EQ(d.Text(), "Can't initialize download server");
    BYTE type = 1;
    EXPECT_EQ(d.state->GetPagerType(&type), S_OK);  // field methods still answer
    EXPECT_EQ(type, 0);
    EXPECT_EQ(d.transfer->Identify(), E_FAIL);  // channel methods fail with error 1
    EXPECT_EQ(d.Code(), 2);
    LONG result = 99;
    EXPECT_EQ(d.state->SetPortSettings(&result, "device = COM1"), E_FAIL);
    EXPECT_EQ(result, 99);
  }
  // Win32s with the helper library present: the thunked channel works.
  setenv("TARN_TEST_FORCE_PLATFORM_ID", "0", 1);
  setenv("TARN_THUNK_LIBRARY", TEST_DISPATCHER_PATH, 1);
  {
    Download d;
    EXPECT_EQ(d.Code(), 1);
  }
  unsetenv("TARN_TEST_FORCE_PLATFORM_ID");
  unsetenv("TARN_THUNK_LIBRARY");
}

TEST(DownloadObject, RejectedSettingsAndUnopenablePorts) {
  Download d;
  LONG result = 99;
  EXPECT_EQ(d.state->SetPortSettings(&result, "speed = 9600"), S_OK);
  EXPECT_EQ(result, E_FAIL);
  EXPECT_EQ(d.Code(), 9);
  EXPECT_EQ(d.Text(), "Undefined COM port error");
  EXPECT_EQ(d.state->SetPortSettings(&result, "device = /nonexistent/tty"), S_OK);
  EXPECT_EQ(result, S_OK);
  BYTE buffer[4] = {7, 7, 7, 7};
  EXPECT_EQ(d.transfer->ReadMemory(&result, 0, buffer, 4), S_OK);  // the failure is in result
  EXPECT_EQ(result, E_FAIL);
  EXPECT_EQ(d.Code(), 4);
  EXPECT_EQ(d.Text(), "Can't open serial port");
  EXPECT_EQ(buffer[0], 7);
}

TEST(DownloadOverPty, IdentifyReportsThePagerAndInfoIdIsPartOfTheInfoBlock) {
  SimulatedPager sim(Config());
  Download d;
  LONG result = 99;
  ASSERT_EQ(d.state->SetPortSettings(&result, sim.Settings().c_str()), S_OK);
  ASSERT_EQ(result, S_OK);
  ASSERT_EQ(d.transfer->Identify(), S_OK) << d.Text();
  BYTE type = 0, status = 0, block[16], id[6], first[10], second[10], byte1 = 0, last = 0;
  LONG ok = 0;
  EXPECT_EQ(d.state->GetPagerType(&type), S_OK);
  EXPECT_EQ(type, 0x8B);
  EXPECT_EQ(d.state->GetStatusChar(&status), S_OK);
  EXPECT_EQ(status, 'O');
  EXPECT_EQ(d.state->GetStatusOk(&ok), S_OK);
  EXPECT_EQ(ok, 1);
  ASSERT_EQ(d.state->GetInfoBlock(block), S_OK);
  ASSERT_EQ(d.state->GetInfoId(id), S_OK);
  EXPECT_EQ(std::memcmp(id, block + 9, 6), 0);
  EXPECT_EQ(block[9], 0x49);
  EXPECT_EQ(d.state->GetInfoByte1(&byte1), S_OK);
  EXPECT_EQ(byte1, 0x41);
  EXPECT_EQ(d.state->GetInfoLastByte(&last), S_OK);
  EXPECT_EQ(last, 0x4F);
  ASSERT_EQ(d.state->GetFirstRecord(first), S_OK);
  ASSERT_EQ(d.state->GetSecondRecord(second), S_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(first), 10), "abcdefghij");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(second), 10), "ABCDEFGHIJ");
  EXPECT_EQ(d.Code(), 1);
}

TEST(DownloadOverPty, PasswordsAndStickyErrors) {
  pagersim::PagerConfig config = Config('Y');
  const BYTE secret[10] = {'s', 'e', 'c', 'r', 'e', 't', '1', '2', '3', '4'};
  std::memcpy(config.password.data(), secret, 10);
  SimulatedPager sim(config);
  Download d;
  LONG result = 99;
  ASSERT_EQ(d.state->SetPortSettings(&result, sim.Settings().c_str()), S_OK);

  BYTE buffer[8];
  ASSERT_EQ(d.transfer->ReadMemory(&result, 0x10, buffer, 8), S_OK);  // ten zero bytes: refused
  EXPECT_EQ(result, S_FALSE);
  EXPECT_EQ(d.Code(), 13);
  EXPECT_EQ(d.Text(), "Wrong Download password!");
  BYTE reply = 0;
  EXPECT_EQ(d.state->GetPasswordReply(&reply), S_OK);
  EXPECT_EQ(reply, 0x15);
  EXPECT_EQ(d.state->ResetPasswordReply(), S_OK);
  EXPECT_EQ(d.state->GetPasswordReply(&reply), S_OK);
  EXPECT_EQ(reply, 0xFF);

  // ClearPassword does not change the bytes a later request sends.
  ASSERT_EQ(d.state->SetPassword(secret), S_OK);
  ASSERT_EQ(d.state->ClearPassword(), S_OK);
  ASSERT_EQ(d.transfer->ReadMemory(&result, 0x10, buffer, 8), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.Code(), 13);  // the earlier failure stays
}

TEST(DownloadOverPty, WriteReadActivateAndCommandMode) {
  pagersim::PagerConfig config = Config();
  pagersim::PagerIdentity after = config.identity;
  after.status = 'A';
  config.identityAfterActivate = after;
  SimulatedPager sim(config);
  Download d;
  LONG result = 99;
  ASSERT_EQ(d.state->SetPortSettings(&result, sim.Settings().c_str()), S_OK);

  BYTE data[40];
  for (int i = 0; i < 40; ++i) data[i] = static_cast<BYTE>(i * 7 + 1);
  ASSERT_EQ(d.transfer->WriteMemory(&result, 0x1234, data, 40), S_OK);
  ASSERT_EQ(result, S_OK) << d.Text();
  BYTE back[40] = {};
  ASSERT_EQ(d.transfer->ReadMemory(&result, 0x1234, back, 40), S_OK);
  ASSERT_EQ(result, S_OK) << d.Text();
  EXPECT_EQ(std::memcmp(back, data, 40), 0);

  ASSERT_EQ(d.transfer->Activate(), S_OK) << d.Text();
  BYTE status = 0;
  EXPECT_EQ(d.state->GetStatusChar(&status), S_OK);
  EXPECT_EQ(status, 'A');  // the re-identification brought the new values

  ASSERT_EQ(d.commands->BeginCommands(), S_OK) << d.Text();
  EXPECT_EQ(d.commands->SendCommand13(), S_OK);
  EXPECT_EQ(d.commands->SendCommandFF(), S_OK);
  EXPECT_EQ(d.commands->SendCommandFFRepeat(), S_OK);
  EXPECT_EQ(d.commands->SendBytePair(&result, 0x1FF, 0x02), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.commands->SendCommand42(&result, 1), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.commands->SendCommandAE(&result, 0x123456, 0xABCD), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.commands->SendCommand40(&result, 0x123456, 0xABCD), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.commands->SendCommand46(&result, 0x10000, 0x100), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(d.commands->EndCommands(), S_OK);
  EXPECT_EQ(d.Code(), 1);

  sim.Stop();
  const auto& cmds = sim.pager().Commands();
  ASSERT_EQ(cmds.size(), 10u);
  EXPECT_EQ(cmds[1].command, 0xFF);
  EXPECT_EQ(cmds[2].command, 0xFF);  // FFRepeat sends what FF sends
  EXPECT_EQ(cmds[3].command, 0xFF);  // the low byte of 0x1FF
  EXPECT_EQ(cmds[4].command, 0x02);
  EXPECT_EQ(cmds[6].block, (std::vector<uint8_t>{0x34, 0x56, 0x00, 0x12, 0xAB, 0xCD}));
  EXPECT_EQ(cmds[7].block, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0x00, 0xCD, 0xAB}));
  for (const auto& c : cmds) EXPECT_TRUE(c.checksumOk);
  EXPECT_TRUE(sim.pager().Violations().empty());
  EXPECT_EQ(std::memcmp(sim.pager().Memory().data() + 0x1234, data, 40), 0);
}

}  // namespace
