// Ctrl-C, SIGTERM and Ctrl-Z during a transfer on POSIX; see interrupt.h.
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "interrupt.h"

namespace tarnctl {
namespace {

// Keypad mode off, cursor shown, main screen; and the reverse.
constexpr char kLeaveScreen[] = "\r\033[?1l\033>\033[?25h\033[?1049l";
constexpr char kEnterScreen[] = "\033[?1049h\033[?1h\033=\033[?25l";

int g_tty = -1;
bool g_haveModes = false;
struct termios g_before;  // the line modes before the window
char g_text[2][512];      // the message, prepared; g_current is the one to use
std::atomic<int> g_current{0};
std::atomic<bool> g_redraw{false};
struct sigaction g_old[3];
constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGTSTP};

void Put(int fd, const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t w = write(fd, text, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return;
    text += w;
    n -= static_cast<size_t>(w);
  }
}

// Terminal work from a handler with SIGTTOU held back. On Ctrl-Z the shell
// sees the job's other processes stop and takes the terminal back, often
// before this handler has run; from the background, changing the line modes
// (or writing, with TOSTOP) would stop tarnctl by SIGTTOU with the window's
// screen still up. With SIGTTOU blocked the kernel lets both through.
class TtouHeld {
 public:
  TtouHeld() {
    sigset_t ttou;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &saved_);
  }
  ~TtouHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  TtouHeld(const TtouHeld&) = delete;
  TtouHeld& operator=(const TtouHeld&) = delete;

 private:
  sigset_t saved_;
};

void GiveTerminalBack() {
  if (g_tty < 0) return;
  TtouHeld held;
  if (g_haveModes) tcsetattr(g_tty, TCSADRAIN, &g_before);
  Put(g_tty, kLeaveScreen);
}

void OnSignal(int sig) {
  int saved = errno;
  if (sig == SIGTSTP) {
    struct termios window {};
    bool haveWindow = g_tty >= 0 && tcgetattr(g_tty, &window) == 0;
    GiveTerminalBack();
    signal(SIGTSTP, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(SIGTSTP);
    // Continued (fg).
    struct sigaction again {};
    again.sa_handler = OnSignal;
    sigemptyset(&again.sa_mask);
    sigaction(SIGTSTP, &again, nullptr);
    // Continued in the foreground (fg): the window's screen comes back. In
    // the background (bg) the terminal is the shell's; the window is drawn
    // again by the next use that finds tarnctl in the foreground.
    if (g_tty >= 0 && tcgetpgrp(g_tty) == getpgrp()) {
      if (haveWindow) tcsetattr(g_tty, TCSADRAIN, &window);
      Put(g_tty, kEnterScreen);
      g_redraw = true;
    }
    errno = saved;
    return;
  }
  GiveTerminalBack();
  Put(STDERR_FILENO, "\ntarnctl: interrupted: ");
  Put(STDERR_FILENO, g_text[g_current.load()]);
  Put(STDERR_FILENO, "\n");
  signal(sig, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  errno = saved;
}

}  // namespace

InterruptGuard::InterruptGuard(bool window) {
  g_text[0][0] = g_text[1][0] = '\0';
  g_redraw = false;
  if (window) {
    g_tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    g_haveModes = g_tty >= 0 && tcgetattr(g_tty, &g_before) == 0;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    // Ctrl-Z is taken over only where there is a window to give back; a
    // signal the shell made the process ignore stays ignored.
    sigaction(kSignals[i], nullptr, &g_old[i]);
    if (g_old[i].sa_handler == SIG_IGN || (kSignals[i] == SIGTSTP && g_tty < 0)) continue;
    sigaction(kSignals[i], &action, nullptr);
  }
}

InterruptGuard::~InterruptGuard() {
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &g_old[i], nullptr);
  if (g_tty >= 0) close(g_tty);
  g_tty = -1;
  g_haveModes = false;
}

void InterruptGuard::SetPosition(const std::string& text) {
  int next = 1 - g_current.load();
  std::snprintf(g_text[next], sizeof g_text[next], "%s", text.c_str());
  g_current.store(next);
}

bool InterruptGuard::TakeRedraw() {
  return g_redraw.exchange(false);
}

}  // namespace tarnctl
