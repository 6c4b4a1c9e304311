// SharedPass: one costly look at the system shared by every caller that
// asks at about the same time, without ever answering a caller with a look
// that began before it asked. The process-table search for the holder of a
// port (port_holder_posix.cpp) goes through it: a fleet opens dozens of
// ports at once, and each opening wants the whole table searched after its
// own lock was taken; one search that starts after all of them answers all
// of them.
//
// Get(look) returns the result of a run of `look` that started after Get
// was called. When no run is going on, the caller runs `look` itself (on
// its own thread, with no lock held). When one is going on, it started too
// early for this caller: the caller waits for it to end and for the next
// run, which it or another waiting caller starts; every caller waiting at
// that moment takes the next run's result. So at most two runs go on per
// wave of callers, whatever their number. The result is copied to each
// caller. Platform-free; a `look` that throws leaves the next caller to run
// it again.
#ifndef TARN_CHANNEL_SHARED_PASS_H
#define TARN_CHANNEL_SHARED_PASS_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>

namespace tarn {

template <typename Result>
class SharedPass {
 public:
  template <typename Look>
  Result Get(Look look) {
    std::unique_lock<std::mutex> lock(mutex_);
    // The first run to start from now on answers this caller.
    const uint64_t wanted = started_ + 1;
    while (finished_ < wanted) {
      if (running_) {
        changed_.wait(lock);
        continue;
      }
      running_ = true;
      const uint64_t run = ++started_;
      lock.unlock();
      try {
        Result fresh = look();
        lock.lock();
        result_ = std::move(fresh);
        finished_ = run;
      } catch (...) {
        lock.lock();
        running_ = false;
        changed_.notify_all();
        throw;
      }
      running_ = false;
      changed_.notify_all();
    }
    return result_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;
  uint64_t started_ = 0;   // runs begun
  uint64_t finished_ = 0;  // the run whose result result_ holds
  Result result_{};
};

}  // namespace tarn

#endif  // TARN_CHANNEL_SHARED_PASS_H
