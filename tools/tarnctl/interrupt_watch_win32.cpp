#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "interrupt_watch.h"

namespace tarnctl {
namespace {

std::atomic<bool> g_interrupted{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  g_interrupted = true;
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  g_interrupted = false;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

// Each Ctrl-C is reported once.
bool InterruptWatch::WaitMs(int ms) {
  for (int waited = 0; waited < ms && !g_interrupted; waited += 50) Sleep(50);
  if (!g_interrupted.exchange(false)) return false;
  signal_ = SIGINT;
  return true;
}

void EndByInterrupt(int) {
  std::fflush(nullptr);
  std::_Exit(130);
}

}  // namespace tarnctl
