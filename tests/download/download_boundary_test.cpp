// CDownload's interface methods at their boundary, in virtual time: which
// methods start without a deadline and which keep the one in force, and
// how every method that reaches the channel maps what escapes (a passed
// deadline: error 2; anything else: error 1) without touching its
// out-parameter.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "simulated_download.h"

namespace tarn {
namespace {

constexpr LONG kUntouched = 0x5EED;

// The methods that keep the deadline in force, with their out-parameter
// (null for those without one).
struct Method {
  const char* name;
  std::function<HRESULT(CDownload*, LONG*)> call;
};

std::vector<Method> MethodsThatKeepTheDeadline() {
  static const BYTE data[2] = {1, 2};
  return {
      {"WriteMemory", [](CDownload* d, LONG* r) { return d->WriteMemory(r, 0x10, data, 2); }},
      {"SendCommand13", [](CDownload* d, LONG*) { return d->SendCommand13(); }},
      {"SendCommandFF", [](CDownload* d, LONG*) { return d->SendCommandFF(); }},
      {"SendCommandFFRepeat", [](CDownload* d, LONG*) { return d->SendCommandFFRepeat(); }},
      {"SendBytePair", [](CDownload* d, LONG* r) { return d->SendBytePair(r, 1, 2); }},
      {"SendCommand42", [](CDownload* d, LONG* r) { return d->SendCommand42(r, 7); }},
      {"SendCommandAE", [](CDownload* d, LONG* r) { return d->SendCommandAE(r, 7, 8); }},
      {"SendCommand40", [](CDownload* d, LONG* r) { return d->SendCommand40(r, 7, 8); }},
      {"SendCommand46", [](CDownload* d, LONG* r) { return d->SendCommand46(r, 7, 8); }},
      {"EndCommands", [](CDownload* d, LONG*) { return d->EndCommands(); }},
  };
}

TEST(DownloadDeadline, ActivateBeginCommandsAndProbeStartWithoutOne) {
  Simulated sim;
  sim.PassDeadline();
  EXPECT_EQ(sim.object->BeginCommands(), S_OK);
  sim.PassDeadline();
  EXPECT_EQ(sim.object->SendCommand0B(), S_OK);  // also ends command mode
  sim.PassDeadline();
  EXPECT_EQ(sim.object->Activate(), S_OK);
  sim.PassDeadline();
  EXPECT_EQ(sim.object->Identify(), S_OK);
  EXPECT_EQ(sim.Code(), 1);  // nothing failed
}

TEST(DownloadDeadline, OtherMethodsKeepItAndFailWithErrorTwo) {
  for (const Method& m : MethodsThatKeepTheDeadline()) {
    SCOPED_TRACE(m.name);
    Simulated sim;
    ASSERT_EQ(sim.object->BeginCommands(), S_OK);
    sim.PassDeadline();
    LONG result = kUntouched;
    EXPECT_EQ(m.call(sim.object, &result), E_FAIL);
    EXPECT_EQ(sim.Code(), 3);
    EXPECT_EQ(result, kUntouched);
  }
}

TEST(DownloadBoundary, AnythingElseThatEscapesIsErrorOne) {
  std::vector<Method> methods = MethodsThatKeepTheDeadline();
  methods.push_back({"Identify", [](CDownload* d, LONG*) { return d->Identify(); }});
  methods.push_back({"Activate", [](CDownload* d, LONG*) { return d->Activate(); }});
  methods.push_back({"BeginCommands", [](CDownload* d, LONG*) { return d->BeginCommands(); }});
  methods.push_back({"SendCommand0B", [](CDownload* d, LONG*) { return d->SendCommand0B(); }});
  for (const Method& m : methods) {
    SCOPED_TRACE(m.name);
    Simulated sim;
    // Without a channel every operation raises at its first use of it.
    sim.object->channel = nullptr;
    LONG result = kUntouched;
    const HRESULT hr = m.call(sim.object, &result);
    sim.object->channel = sim.link;
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(sim.Code(), 2);
    EXPECT_EQ(result, kUntouched);
  }
}

}  // namespace
}  // namespace tarn
