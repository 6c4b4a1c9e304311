// Ctrl-C for jobs that run on worker threads: while an InterruptWatch
// lives, an interrupt (SIGINT/SIGTERM on POSIX, Ctrl-C/Ctrl-Break on
// Windows) no longer ends the process; the thread that created the watch
// sees it through WaitMs and tells the workers to stop at a safe point.
// Create it before starting the workers (on POSIX they inherit the blocked
// signals, so no blocking call of theirs is cut short).
#ifndef TARNCTL_INTERRUPT_WATCH_H
#define TARNCTL_INTERRUPT_WATCH_H

namespace tarnctl {

class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();  // a pending interrupt is dropped, the old handling restored
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Waits up to ms milliseconds; true as soon as an interrupt arrived.
  bool WaitMs(int ms);
};

}  // namespace tarnctl

#endif  // TARNCTL_INTERRUPT_WATCH_H
