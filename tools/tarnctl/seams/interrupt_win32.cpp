// Ctrl-C during a transfer on Windows: the console keeps its state; the
// message of what was reached is printed by the console handler.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "interrupt.h"

namespace tarnctl {
namespace {

char g_text[2][512];
std::atomic<int> g_current{0};

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  std::fprintf(stderr, "\ntarnctl: interrupted: %s\n", g_text[g_current.load()]);
  std::fflush(stderr);
  return FALSE;  // the default handler ends the process
}

}  // namespace

InterruptGuard::InterruptGuard(bool) {
  g_text[0][0] = g_text[1][0] = '\0';
  SetConsoleCtrlHandler(OnControl, TRUE);
}

InterruptGuard::~InterruptGuard() {
  SetConsoleCtrlHandler(OnControl, FALSE);
}

void InterruptGuard::SetPosition(const std::string& text) {
  int next = 1 - g_current.load();
  std::snprintf(g_text[next], sizeof g_text[next], "%s", text.c_str());
  g_current.store(next);
}

bool InterruptGuard::TakeRedraw() {
  return false;
}

}  // namespace tarnctl
