// libholm through the runtime: registered with regsvr into a private
// registry, each ProgID resolving to its class, objects keeping the library
// loaded, and the progress indicator reaching across to Tarn.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <tarnholm/interfaces.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "registered_components.h"
#include "tools/pagersim/pty_server.h"

namespace {

const auto* const g_registry = ::testing::AddGlobalTestEnvironment(
    new testsupport::RegisteredComponents(REGSVR_PATH, {HOLM_LIBRARY_PATH, TARN_LIBRARY_PATH}));

std::string Value(const std::string& key) {
  char value[1024];
  LONG size = sizeof value;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
    return "<missing>";
  return value;
}

HRESULT (*Export(const char* name))() {
  void* library = dlopen(HOLM_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (library == nullptr) return nullptr;
  auto fn = reinterpret_cast<HRESULT (*)()>(dlsym(library, name));
  dlclose(library);
  return fn;
}

struct ClassCase {
  const char16_t* progId;
  const char* progIdNarrow;
  CLSID clsid;
  const char* clsidText;
  IID custom;  // an interface the object answers besides IDispatch
};

const ClassCase kClasses[] = {
    {u"Brenlow.HCBAUDPORT", "Brenlow.HCBAUDPORT", CLSID_HC_OnlyBaudPort,
     "{7D3A6E11-5B21-11D5-B41D-5E2B7A1C9D03}", DIID_IHC_OnlyBaudPort},
    {u"Brenlow.HCONLYPORT", "Brenlow.HCONLYPORT", CLSID_HC_OnlyPort,
     "{7D3A6E14-5B21-11D5-B41D-5E2B7A1C9D03}", IID_IPortSetup},
    {u"Brenlow.HCPORTSETTINGS", "Brenlow.HCPORTSETTINGS", CLSID_HC_PortSettings,
     "{7D3A6E15-5B21-11D5-B41D-5E2B7A1C9D03}", IID_IPortSetup},
    {u"Brenlow.PROGRESSER", "Brenlow.PROGRESSER", CLSID_Progress,
     "{7D3A6E16-5B21-11D5-B41D-5E2B7A1C9D03}", IID_IProgressIndicator},
    {u"Brenlow.S19SUPPORT", "Brenlow.S19SUPPORT", CLSID_S19Support,
     "{7D3A6E17-5B21-11D5-B41D-5E2B7A1C9D03}", IID_IS19File},
};

TEST(HolmModule, RegistrationWritesFiveKeysPerClass) {
  for (const ClassCase& c : kClasses) {
    const std::string progId = c.progIdNarrow;
    const std::string key = std::string("CLSID\\") + c.clsidText;
    EXPECT_EQ(Value(progId), progId);
    EXPECT_EQ(Value(progId + "\\CLSID"), c.clsidText);
    EXPECT_EQ(Value(key), progId);
    EXPECT_EQ(Value(key + "\\ProgID"), progId);
    char real[4096];
    ASSERT_NE(realpath(HOLM_LIBRARY_PATH, real), nullptr);
    EXPECT_EQ(Value(key + "\\InProcServer32"), real);
  }
}

TEST(HolmModule, EveryProgIdCreatesItsObject) {
  for (const ClassCase& c : kClasses) {
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(c.progId), &clsid), S_OK)
        << c.progIdNarrow;
    EXPECT_TRUE(IsEqualCLSID(clsid, c.clsid));
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    void* p = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IDispatch, &p), S_OK) << c.progIdNarrow;
    if (p != nullptr) static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(object->QueryInterface(c.custom, &p), S_OK) << c.progIdNarrow;
    if (p != nullptr) static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(object->QueryInterface(IID_IDownloadError, &p), E_NOINTERFACE);
    object->Release();
  }
}

TEST(HolmModule, UnloadOnlyWhenNoObjectLives) {
  IUnknown* progress = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Progress, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&progress)),
            S_OK);
  auto canUnload = Export("DllCanUnloadNow");
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_FALSE);
  progress->Release();
  EXPECT_EQ(canUnload(), S_OK);

  using GetClassObject = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
  void* library = dlopen(HOLM_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr);
  auto get = reinterpret_cast<GetClassObject>(dlsym(library, "DllGetClassObject"));
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(get(CLSID_Download, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get(CLSID_S19Support, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);  // a factory referenced from outside
  factory->Release();
  EXPECT_EQ(canUnload(), S_OK);
  dlclose(library);
}

// Stands between Tarn and Holm's Progress: records what Tarn calls and
// passes every call on to the real object.
class Relay : public IProgressIndicator {
 public:
  explicit Relay(IProgressIndicator* real) : real_(real) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    calls += "Q";
    return real_->QueryInterface(iid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    calls += "A";
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    calls += "R";
    return 1;
  }
  HRESULT STDMETHODCALLTYPE AddStep(LONG w, BSTR t, BSTR c) override {
    calls += "S";
    return real_->AddStep(w, t, c);
  }
  HRESULT STDMETHODCALLTYPE NextStep() override {
    calls += "N";
    return real_->NextStep();
  }
  HRESULT STDMETHODCALLTYPE SetProgress(LONG v) override {
    calls += "P";
    return real_->SetProgress(v);
  }
  HRESULT STDMETHODCALLTYPE SetProgressPercent(LONG p) override {
    calls += "%" + std::to_string(p);
    results += real_->SetProgressPercent(p) == S_OK ? "" : "!";
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Show() override { return real_->Show(); }
  HRESULT STDMETHODCALLTYPE Hide() override { return real_->Hide(); }
  std::string calls;
  std::string results;

 private:
  IProgressIndicator* real_;
};

TEST(HolmWithTarn, ADownloadReportsOnlyPercentagesToTheAttachedIndicator) {
  pagersim::PagerConfig config;
  pagersim::PtyServer server(config);
  std::string error;
  ASSERT_TRUE(server.Start({}, &error)) << error;
  std::thread serving([&] { server.Serve(); });

  IProgressIndicator* progress = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Progress, nullptr, CLSCTX_INPROC_SERVER, IID_IProgressIndicator,
                             reinterpret_cast<void**>(&progress)),
            S_OK);
  progress->AddStep(100, SysAllocString(OLESTR("Reading")), SysAllocString(OLESTR("Download")));
  Relay relay(progress);
  IDownloadState* state = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_Download, nullptr, CLSCTX_INPROC_SERVER, IID_IDownloadState,
                             reinterpret_cast<void**>(&state)),
            S_OK);
  IDownloadTransfer* transfer = nullptr;
  ASSERT_EQ(state->QueryInterface(IID_IDownloadTransfer, reinterpret_cast<void**>(&transfer)),
            S_OK);
  LONG result = 99;
  std::string settings = "device = " + server.DevicePath();
  ASSERT_EQ(state->SetPortSettings(&result, settings.c_str()), S_OK);
  ASSERT_EQ(result, S_OK);

  ASSERT_EQ(state->AttachProgress(&relay), S_OK);
  std::vector<BYTE> buffer(1500);
  ASSERT_EQ(transfer->ReadMemory(&result, 0, buffer.data(), 1500), S_OK);
  EXPECT_EQ(result, S_OK);
  // No reference taken, nothing but the percentages after bytes 0, 512, 1024.
  EXPECT_EQ(relay.calls, "%0%34%68");
  EXPECT_EQ(relay.results, "");
  ASSERT_EQ(state->AttachProgress(nullptr), S_OK);
  ASSERT_EQ(transfer->ReadMemory(&result, 0, buffer.data(), 10), S_OK);
  EXPECT_EQ(relay.calls, "%0%34%68");

  transfer->Release();
  state->Release();
  progress->Release();
  server.Stop();
  serving.join();
}

}  // namespace
