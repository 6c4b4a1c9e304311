// CDownload from the inside: its channel replaced by the simulator's
// in-process link, in virtual time, for the failures that cannot be caused
// from outside (a finite deadline, a failing channel call).
#include <gtest/gtest.h>

#include <cstring>

#include "simulated_download.h"

namespace tarn {
namespace {

TEST(DownloadInside, ReadAndWriteWorkInVirtualTime) {
  Simulated sim;
  const BYTE data[3] = {1, 2, 3};
  LONG result = 99;
  ASSERT_EQ(sim.object->WriteMemory(&result, 0x0300, data, 3), S_OK);
  EXPECT_EQ(result, S_OK);
  BYTE back[3] = {};
  ASSERT_EQ(sim.object->ReadMemory(&result, 0x0300, back, 3), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(std::memcmp(back, data, 3), 0);
  EXPECT_EQ(sim.Code(), 1);
}

TEST(DownloadInside, PassedDeadlineEndsTheCallWithErrorTwo) {
  Simulated sim;
  sim.object->SetDeadline(50);  // passes during the wake-up exchange
  LONG result = 12345;
  BYTE buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(sim.object->ReadMemory(&result, 0x0100, buffer, 4), E_FAIL);
  EXPECT_EQ(result, 12345);  // out-parameter untouched
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(sim.Code(), 3);
  // Identify starts without a deadline and succeeds.
  EXPECT_EQ(sim.object->Identify(), S_OK);
  EXPECT_EQ(sim.Code(), 3);  // errors are sticky
}

TEST(DownloadInside, ChannelFailureOutsideTheGuardedPlacesIsErrorOne) {
  Simulated sim;
  sim.link->FailOn(pagersim::CallKind::kPurgeInput, 3);
  EXPECT_EQ(sim.object->Identify(), E_FAIL);
  EXPECT_EQ(sim.Code(), 2);
  sim.link->FailOn(pagersim::CallKind::kDelay, 3);
  LONG result = 777;
  BYTE buffer[2];
  EXPECT_EQ(sim.object->ReadMemory(&result, 0, buffer, 2), E_FAIL);
  EXPECT_EQ(result, 777);
  EXPECT_EQ(sim.Code(), 2);
}

TEST(DownloadInside, ProgressReachesTheAttachedIndicatorOnly) {
  struct Recorder : IProgressIndicator {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE AddStep(LONG, BSTR, BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NextStep() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgress(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressPercent(LONG p) override {
      percents.push_back(p);
      return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Show() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Hide() override { return S_OK; }
    std::vector<LONG> percents;
  } recorder;
  Simulated sim;
  std::vector<BYTE> buffer(1500);
  LONG result = -1;
  ASSERT_EQ(sim.object->AttachProgress(&recorder), S_OK);
  ASSERT_EQ(sim.object->ReadMemory(&result, 0, buffer.data(), 1500), S_OK);
  EXPECT_EQ(result, S_OK);
  EXPECT_EQ(recorder.percents, (std::vector<LONG>{0, 34, 68}));
  ASSERT_EQ(sim.object->AttachProgress(nullptr), S_OK);
  ASSERT_EQ(sim.object->ReadMemory(&result, 0, buffer.data(), 1500), S_OK);
  EXPECT_EQ(recorder.percents.size(), 3u);
}

TEST(DownloadInside, NullOutParametersAreRefused) {
  Simulated sim;
  EXPECT_EQ(sim.object->ReadMemory(nullptr, 0, nullptr, 0), E_POINTER);
  EXPECT_EQ(sim.object->GetErrorCode(nullptr), E_POINTER);
  EXPECT_EQ(sim.object->GetInfoBlock(nullptr), E_POINTER);
  // Any null pointer the call would use is refused before anything else:
  // nothing is sent, no setting and not the error code changes.
  LONG result = 5;
  EXPECT_EQ(sim.object->ReadMemory(&result, 0, nullptr, 4), E_POINTER);
  EXPECT_EQ(sim.object->WriteMemory(&result, 0, nullptr, 4), E_POINTER);
  EXPECT_EQ(sim.object->SetPortSettings(nullptr, "device = elsewhere"), E_POINTER);
  EXPECT_EQ(sim.object->SetPortSettings(&result, nullptr), E_POINTER);
  EXPECT_EQ(result, 5);
  EXPECT_TRUE(sim.link->Written().empty());
  char settings[32] = {};
  sim.link->GetSettings(settings, sizeof settings);
  EXPECT_STREQ(settings, "device = sim");
  EXPECT_EQ(sim.Code(), 1);
}

}  // namespace
}  // namespace tarn
