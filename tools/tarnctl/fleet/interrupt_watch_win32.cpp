// Ctrl-C seen by a waiting thread on Windows; see interrupt_watch.h.
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "interrupt_watch.h"

namespace tarnctl {
namespace {

std::atomic<int> g_interrupts{0};  // not yet seen by WaitMs

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ++g_interrupts;
  return TRUE;
}

// Takes one interrupt that WaitMs has not reported yet.
bool TakeInterrupt() {
  int n = g_interrupts.load();
  while (n > 0 && !g_interrupts.compare_exchange_weak(n, n - 1)) {
  }
  return n > 0;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  g_interrupts = 0;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

int InterruptWatch::WaitMs(int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (TakeInterrupt()) return signal_ = SIGINT;
    Sleep(50);
  }
  return TakeInterrupt() ? signal_ = SIGINT : 0;
}

void EndBySignal(int) {
  std::fflush(nullptr);
  ExitProcess(130);
}

}  // namespace tarnctl
