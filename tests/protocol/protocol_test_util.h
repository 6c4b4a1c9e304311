// Shared fixture of the protocol tests: a protocol object on the simulated
// pager's in-process link, in virtual time, with the channel prepared as the
// component object's construction leaves it (timeout 100 ms, echo cancelling
// on), plus helpers that spell expected channel traces.
#ifndef TESTS_PROTOCOL_PROTOCOL_TEST_UTIL_H
#define TESTS_PROTOCOL_PROTOCOL_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sample_pagers.h"
#include "tarn/protocol/frame_steps.h"
#include "tarn/protocol/pager_protocol.h"
#include "tools/pagersim/sim_link.h"

namespace protocol_test {

using pagersim::CallKind;
using pagersim::FaultKind;
using pagersim::PagerConfig;
using pagersim::Step;
using tarn::CPagerProtocol;
using tarn::kResultFail;
using tarn::kResultFalse;
using tarn::kResultOk;
using Bytes = std::vector<uint8_t>;

// Records every percentage and the number of channel calls made before it,
// so a test can check what the protocol did right after each report.
class RecordingSink : public tarn::ProgressSink {
 public:
  explicit RecordingSink(const pagersim::SimLink& link) : link_(link) {}
  void SetProgressPercent(int32_t percent) override {
    percents.push_back(percent);
    callIndex.push_back(link_.Calls().size());
  }
  std::vector<int32_t> percents;
  std::vector<size_t> callIndex;

 private:
  const pagersim::SimLink& link_;
};

// The identity every test pager reports unless a test changes it.
inline PagerConfig DefaultConfig(uint8_t status = 'O') {
  PagerConfig config;
  config.identity = testsupport::AdjacentIdentity(status);
  return config;
}

// The default pager with one change made by `change`.
template <typename Change>
PagerConfig ConfigWith(Change change) {
  PagerConfig config = DefaultConfig();
  change(config);
  return config;
}

// The default pager with one planted fault.
inline PagerConfig ConfigWithFault(const pagersim::Fault& fault) {
  return ConfigWith([&fault](PagerConfig& c) { c.faults.push_back(fault); });
}

// A call's result with the error the protocol object holds after it, as
// one text: "fail 14", "false 14".
inline std::string Outcome(int32_t result, const CPagerProtocol& proto) {
  const std::string word = result == kResultFail    ? "fail"
                           : result == kResultFalse ? "false"
                           : result == kResultOk    ? "ok"
                                                    : std::to_string(result);
  return word + " " + std::to_string(proto.lastError);
}

inline uint64_t VirtualClock(void* context) {
  // 1 January 2027 in 100 ns units since 1601, plus the link's virtual time.
  constexpr uint64_t kBase = 134432352000000000ull;
  return kBase + static_cast<const pagersim::SimLink*>(context)->NowUs() * 10;
}

struct Bench {
  explicit Bench(PagerConfig config = DefaultConfig()) : link(std::move(config)), sink(link) {
    link.Initialize();
    link.SetTimeout(100);
    link.SetEchoCancel(true);
    link.ClearCalls();
    proto.SetClock(&VirtualClock, &link);
  }
  // Opens the port as a step test needs it, with echo cancelling off as the
  // first wake-up leaves it, and clears the call record.
  void OpenForSteps() {
    link.Open();
    link.SetEchoCancel(false);
    link.ClearCalls();
  }
  // Opens for steps with a data phase of the n bytes at data.
  void OpenForData(uint8_t* data, uint16_t n) {
    OpenForSteps();
    proto.transferBuffer = data;
    proto.frameLength = n;
  }
  pagersim::SimLink link;
  CPagerProtocol proto{&link};
  tarn::FrameSteps steps{proto};  // single steps on proto's fields
  RecordingSink sink;
};

// "W:86 W:01 ..." for bytes the host writes, "R:.." for bytes it reads.
inline std::string Wire(char direction, const Bytes& bytes) {
  std::string text;
  char item[8];
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    std::snprintf(item, sizeof item, "%c:%02X", direction, b);
    text += item;
  }
  return text;
}
inline std::string W(const Bytes& bytes) {
  return Wire('W', bytes);
}
inline std::string R(const Bytes& bytes) {
  return Wire('R', bytes);
}

inline std::string Repeat(const std::string& item, int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += (i ? " " : "") + item;
  return text;
}

// Joins trace fragments with single spaces, skipping empty ones.
inline std::string Join(std::initializer_list<std::string> parts) {
  std::string text;
  for (const auto& part : parts) {
    if (part.empty()) continue;
    if (!text.empty()) text += ' ';
    text += part;
  }
  return text;
}

// A wake-up answered at the first attempt.
inline const std::string kWake =
    "PurgeInput PurgeOutput SetTimeout(100) SetEchoCancel(0) W:AA Delay(100) R:8B Delay(100) "
    "SetTimeout(2000)";

inline Bytes Range(uint8_t first, int n) {
  Bytes bytes;
  for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(first + i));
  return bytes;
}

// The answers of the default pager: info block, both records, then `status`.
inline std::string Answers(uint8_t status) {
  Bytes bytes = Range(0x10, 16);
  Bytes first = Range(0x20, 10), second = Range(0x30, 10);
  bytes.insert(bytes.end(), first.begin(), first.end());
  bytes.insert(bytes.end(), second.begin(), second.end());
  bytes.push_back(status);
  return R(bytes);
}

}  // namespace protocol_test

#endif  // TESTS_PROTOCOL_PROTOCOL_TEST_UTIL_H
