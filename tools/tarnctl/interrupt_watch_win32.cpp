#include <windows.h>

#include <atomic>

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

bool InterruptWatch::WaitMs(int ms) {
  for (int waited = 0; waited < ms; waited += 50) {
    if (g_interrupted) return true;
    Sleep(50);
  }
  return g_interrupted;
}

}  // namespace tarnctl
