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
  return rc > 0 ? rc : 0;
}

void EndBySignal(int signal) {
  std::fflush(nullptr);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
  _exit(128 + signal);  // only when the signal could not end the process
}

}  // namespace tarnctl
