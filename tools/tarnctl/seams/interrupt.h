// Ctrl-C, SIGTERM and Ctrl-Z while a transfer runs.
//
// The progress window draws on the terminal's alternate screen with the
// cursor hidden and keypad mode on; a signal that ends tarnctl there would
// leave the terminal so. While an InterruptGuard lives:
//  - SIGINT and SIGTERM give the terminal back (line modes as they were
//    before the window, main screen, cursor shown, keypad mode off), print
//    "tarnctl: interrupted: ..." with the block and addresses reached to
//    standard error, and end tarnctl by the same signal (exit status 130 and
//    143 in a shell), as before;
//  - SIGTSTP (Ctrl-Z) gives the terminal back the same way and stops; after
//    `fg` the window's screen is entered again and a redraw is asked for,
//    which the transfer makes at its next step (TakeRedraw).
// Everything the handlers do is safe in a signal handler: the text is
// prepared beforehand. Without a window only the message is printed.
// Windows: the console keeps its state; only the message is printed on
// Ctrl-C.
#ifndef TARNCTL_INTERRUPT_H
#define TARNCTL_INTERRUPT_H

#include <string>

namespace tarnctl {

class InterruptGuard {
 public:
  // `window`: the progress window is about to be shown on the terminal.
  explicit InterruptGuard(bool window);
  ~InterruptGuard();  // the handlers before it come back
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // What was reached, for the message (for example "write block 2 of 5,
  // 0x1000-0x1FFF, not finished; 0x1000-0x4FFF left undone").
  void SetPosition(const std::string& text);

  // True once after the process was continued from a stop: the window must
  // be drawn anew.
  bool TakeRedraw();
};

}  // namespace tarnctl

#endif  // TARNCTL_INTERRUPT_H
