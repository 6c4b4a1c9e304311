// A small client of the UI layer for the terminal tests: run under tmux, it
// prints lines, then shows a modal dialog or a modeless window on the
// terminal backend. Between steps it waits for the test (files in a
// directory: it creates stage_<n> and waits for go_<n>).
//
//   ui_tty_demo modal <dir>     dialog 900; prints the choices afterwards
//   ui_tty_demo window <dir>    a progress-like window shown, advanced, hidden
//   ui_tty_demo backend -       prints the name of the process's default backend
//   ui_tty_demo curses <dir>    a client with its own ncurses screen shows a window
#include <curses.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "holm/ui/ui.h"
#include "tests/ui/stage_mark.h"

using namespace holm::ui;

namespace {

std::string g_dir;

// Tells the test that stage n is on screen and waits until it has looked.
bool Stage(int n) {
  return th_test::MarkStageAndWait(g_dir, n);
}

int Modal() {
  DialogTemplate t;
  t.id = 900;
  t.caption = "Test Setup";
  t.width = 207;
  t.height = 110;
  t.controls.push_back(MakeControl(kStaticId, ControlKind::kLabel, "&COM Port:", {7, 9, 37, 8}));
  t.controls.push_back(MakeControl(10, ControlKind::kDropDownList, "", {59, 7, 48, 81}));
  t.controls.push_back(MakeControl(kStaticId, ControlKind::kGroupBox, "&Parity", {7, 48, 50, 54}));
  t.controls.push_back(MakeControl(20, ControlKind::kRadioButton, "No", {12, 59, 36, 13}));
  t.controls.back().firstOfGroup = true;
  t.controls.push_back(MakeControl(22, ControlKind::kRadioButton, "Odd", {12, 72, 36, 13}));
  t.controls.push_back(MakeControl(21, ControlKind::kRadioButton, "Even", {12, 85, 36, 13}));
  t.controls.push_back(MakeControl(kIdOk, ControlKind::kPushButton, "OK", {150, 7, 50, 14}));
  t.controls.back().defaultButton = true;
  t.controls.push_back(
      MakeControl(kIdCancel, ControlKind::kPushButton, "Cancel", {150, 25, 50, 14}));
  Dialog d(t);
  ModalHandlers h;
  h.onInit = [](Dialog& dlg) {
    for (const char* s : {"COM1", "COM2", "COM3", "COM4"}) dlg.AddItem(10, s);
    dlg.SelectPrefix(10, "COM2");
    dlg.CheckIndex(20, 0);
    // The dialog is up: the test may look and type now.
    Stage(1);
  };
  int r = RunModal(d, h);
  std::printf("result=%d port=%s parity=%d\n", r, d.SelectedText(10).c_str(), d.CheckedIndex(20));
  std::fflush(stdout);
  return 0;
}

// The client's signal handlers and terminal modes, to check that the UI
// layer leaves them as they were.
struct ClientState {
  void (*handlers[4])(int) = {};
  termios modes{};
  bool haveModes = false;
};

void OnInterrupt(int) {}

ClientState Snapshot() {
  ClientState s;
  const int sigs[] = {SIGINT, SIGTSTP, SIGWINCH, SIGTERM};
  for (int i = 0; i < 4; ++i) {
    struct sigaction sa;
    sigaction(sigs[i], nullptr, &sa);
    s.handlers[i] = sa.sa_handler;
  }
  int fd = open("/dev/tty", O_RDONLY | O_NOCTTY);
  if (fd >= 0) {
    s.haveModes = tcgetattr(fd, &s.modes) == 0;
    close(fd);
  }
  return s;
}

std::string Compare(const ClientState& a, const ClientState& b) {
  std::string out = "signals kept";
  for (int i = 0; i < 4; ++i)
    if (a.handlers[i] != b.handlers[i]) out = "signals changed";
  if (a.haveModes != b.haveModes ||
      (a.haveModes && (a.modes.c_lflag != b.modes.c_lflag || a.modes.c_iflag != b.modes.c_iflag ||
                       a.modes.c_oflag != b.modes.c_oflag)))
    return out + ", tty changed";
  return out + ", tty kept";
}

int Window() {
  // A client with its own SIGINT handler and the defaults for the rest.
  signal(SIGINT, &OnInterrupt);
  const ClientState before = Snapshot();
  std::string shown;
  DialogTemplate t;
  t.id = 901;
  t.caption = "Progress Indicator";
  t.width = 250;
  t.height = 70;
  t.controls.push_back(
      MakeControl(1000, ControlKind::kLabel, "Performing operation", {7, 7, 238, 14}));
  t.controls.push_back(MakeControl(1001, ControlKind::kProgressBar, "", {20, 28, 210, 14}));
  t.controls.back().bordered = true;
  auto w = CreateModeless(t);
  w->SetRange(1001, 0, 200);
  w->Show();
  shown = Compare(before, Snapshot());
  if (!Stage(1)) return 3;
  w->SetText(1000, "Writing");
  w->SetPos(1001, 100);
  if (!Stage(2)) return 3;
  w->Hide();
  if (!Stage(3)) return 3;
  // Shown again after a Hide: a fresh session on the terminal.
  w->SetText(1000, "Verifying");
  w->Show();
  if (!Stage(4)) return 3;
  w->Hide();
  if (!Stage(5)) return 3;
  std::printf("while shown: %s\n", shown.c_str());
  std::printf("after hide: %s\n", Compare(before, Snapshot()).c_str());
  std::printf("window done\n");
  std::fflush(stdout);
  return 0;
}

// A client that uses ncurses itself: its screen and windows must survive
// the library's window being shown and hidden, twice.
int ClientCurses() {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (tty == nullptr) return 3;
  SCREEN* mine = newterm(nullptr, tty, tty);
  if (mine == nullptr) return 3;
  WINDOW* myStd = stdscr;
  DialogTemplate t;
  t.id = 902;
  t.caption = "Library Window";
  t.width = 120;
  t.height = 30;
  t.controls.push_back(MakeControl(1000, ControlKind::kLabel, "inside", {7, 7, 100, 8}));
  bool kept = true;
  for (int round = 0; round < 2; ++round) {
    auto w = CreateModeless(t);
    w->Show();
    kept = kept && stdscr == myStd;
    w->SetText(1000, "changed");
    w->Hide();
    kept = kept && stdscr == myStd;
  }
  SCREEN* current = set_term(mine);
  kept = kept && current == mine && stdscr == myStd;
  mvaddstr(0, 0, "client drawing");
  refresh();
  endwin();
  delscreen(mine);
  std::fclose(tty);
  // The verdict goes to a file: the client's own endwin leaves the cursor
  // where its screen had it.
  if (FILE* f = std::fopen((g_dir + "/verdict").c_str(), "w")) {
    std::fprintf(f, "client screen %s\n", kept ? "kept" : "lost");
    std::fclose(f);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: ui_tty_demo modal|window <dir>\n");
    return 2;
  }
  g_dir = argv[2];
  std::setlocale(LC_ALL, "");  // as a client would: texts in the locale's character set
  std::printf("line before 1\nline before 2\n");
  std::fflush(stdout);
  std::string mode = argv[1];
  if (mode == "modal") return Modal();
  if (mode == "window") return Window();
  if (mode == "curses") return ClientCurses();
  if (mode == "backend") {
    std::printf("backend=%s\n", CurrentBackend().Name());
    return 0;
  }
  return 2;
}
