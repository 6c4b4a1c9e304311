// Interrupts seen by a waiting thread, and ending by a signal, on POSIX;
// see interrupt_watch.h.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "interrupt_watch.h"

namespace tarnctl {
namespace {

sigset_t g_old;

sigset_t Watched() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  sigset_t set = Watched();
  pthread_sigmask(SIG_BLOCK, &set, &g_old);
}

InterruptWatch::~InterruptWatch() {
  sigset_t set = Watched();
  timespec zero{0, 0};
  while (sigtimedwait(&set, nullptr, &zero) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &g_old, nullptr);
}

int InterruptWatch::WaitMs(int ms) {
  sigset_t set = Watched();
  timespec wait{ms / 1000, (ms % 1000) * 1000000L};
  int rc;
  do rc = sigtimedwait(&set, nullptr, &wait);
  while (rc < 0 && errno == EINTR);
  if (rc > 0) signal_ = rc;
  return rc > 0 ? rc : 0;
}

void EndBySignal(int sig) {
  std::fflush(nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  // A transfer's handler, when one is in place, gives the terminal back
  // before it ends the process the same way.
  raise(sig);
  signal(sig, SIG_DFL);
  raise(sig);
  _exit(128 + sig);  // only when the signal could not end the process
}

}  // namespace tarnctl
