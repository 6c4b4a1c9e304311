// Ctrl-C for jobs that run on worker threads: while an InterruptWatch
// lives, an interrupt (SIGINT/SIGTERM on POSIX, Ctrl-C/Ctrl-Break on
// Windows) no longer ends the process; the thread that created the watch
// sees it through WaitMs and tells the workers to stop at a safe point.
// Create it before starting the workers (on POSIX they inherit the blocked
// signals, so no blocking call of theirs is cut short). Each interrupt is
// seen once, so a second one can be told from the first. Once the job's
// record is kept, EndBySignal ends tarnctl by the signal that stopped it,
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

  // Waits up to ms milliseconds; the signal (SIGINT, SIGTERM; SIGINT for
  // Ctrl-C and Ctrl-Break on Windows) as soon as an interrupt arrived, else 0.
  int WaitMs(int ms);
  // The signal of the latest interrupt; 0 before any.
  int Signal() const { return signal_; }

 private:
  int signal_ = 0;
};

// Ends the process by `signal` as if it had never been caught (a shell sees
// 130 for SIGINT, 143 for SIGTERM, and a loop over batches stops too), after
// flushing the output. A transfer's own handler, when one is in place, runs
// first and gives the terminal back. Windows ends with exit code 130. Open
// ports are closed by the system.
[[noreturn]] void EndBySignal(int signal);

}  // namespace tarnctl

#endif  // TARNCTL_INTERRUPT_WATCH_H
