// SharedPass: a caller is never answered by a look that began before it
// asked, and callers that arrive while a look runs share the next one.
#include "tarn/channel/shared_pass.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarn {
namespace {

// A look that numbers its runs and holds the first one until released.
class HeldLook {
 public:
  int operator()() {
    const int run = ++runs_;
    if (run == 1) {
      started_.set_value();
      release_.get_future().wait();
    }
    return run;
  }
  std::future<void> Started() { return started_.get_future(); }
  void Release() { release_.set_value(); }
  int Runs() const { return runs_; }

 private:
  std::atomic<int> runs_{0};
  std::promise<void> started_, release_;
};

TEST(SharedPass, CallersArrivingDuringALookShareTheNextOneAndNeverTakeTheEarlierOne) {
  SharedPass<int> pass;
  HeldLook look;
  auto first = std::async(std::launch::async, [&] { return pass.Get([&] { return look(); }); });
  look.Started().wait();  // the first look runs, and began before the others ask
  std::vector<std::future<int>> late;
  for (int i = 0; i < 3; ++i)
    late.push_back(
        std::async(std::launch::async, [&] { return pass.Get([&] { return look(); }); }));
  // Time for the late callers to reach their wait; the first look is held
  // meanwhile, so they cannot be answered by it in any order of events.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  look.Release();
  EXPECT_EQ(first.get(), 1);
  for (auto& f : late) EXPECT_EQ(f.get(), 2);
  EXPECT_EQ(look.Runs(), 2);
  // A caller after the wave gets a look of its own.
  EXPECT_EQ(pass.Get([&] { return look(); }), 3);
}

TEST(SharedPass, ALookThatThrowsLeavesTheNextCallerToLookAgain) {
  SharedPass<int> pass;
  EXPECT_THROW(pass.Get([]() -> int { throw std::runtime_error("no table"); }), std::runtime_error);
  EXPECT_EQ(pass.Get([] { return 7; }), 7);
}

}  // namespace
}  // namespace tarn
