// Ctrl-C for jobs that run on worker threads: while an InterruptWatch
// lives, an interrupt (SIGINT/SIGTERM on POSIX, Ctrl-C/Ctrl-Break on
// Windows) no longer ends the process; the thread that created the watch
// sees it through WaitMs and tells the workers to stop at a safe point.
// Create it before starting the workers (on POSIX they inherit the blocked
// signals, so no blocking call of theirs is cut short). Once the job's
// record is kept, EndByInterrupt ends tarnctl by the signal that stopped it,
// as an interrupt ends any program (a shell loop stops too).
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
  // The signal of the latest interrupt (SIGINT, SIGTERM); 0 before any.
  int Signal() const { return signal_; }

 private:
  int signal_ = 0;
};

// Ends the process by `signal` (exit status 128 + signal where a signal
// cannot end it).
[[noreturn]] void EndByInterrupt(int signal);

}  // namespace tarnctl

#endif  // TARNCTL_INTERRUPT_WATCH_H
