// The terminal backend on a real terminal (a tmux pane): what the user sees,
// what the keys do, and that the terminal is left as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/ui/tmux_session.h"

namespace {

using th_test::Has;
using th_test::StageDir;
using th_test::TmuxSession;

std::string Demo(const std::string& mode, const StageDir& dir) {
  return "printf 'shell line\\n'; " + std::string(UI_TTY_DEMO) + " " + mode + " " + dir.Path() +
         "; echo rc=$?";
}

class TerminalTty : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TmuxSession::Available()) GTEST_SKIP() << "tmux is not installed";
  }

  // Lets the demo's modal dialog open and waits until it is on the screen.
  static bool OpenModal(TmuxSession& tmux, const StageDir& dir, std::string* screen) {
    if (!tmux.Started() || !dir.Reached(1)) return false;
    dir.Go(1);
    return tmux.WaitForText("Test Setup", screen);
  }

  // Opens the modal dialog, types `keys` and returns the screen once the
  // demo has ended.
  static std::string ScreenAfterKeys(const std::string& keys) {
    StageDir dir;
    TmuxSession tmux(Demo("modal", dir));
    std::string screen;
    if (!OpenModal(tmux, dir, &screen)) {
      ADD_FAILURE() << "the dialog did not open\n" << screen;
      return screen;
    }
    tmux.Keys(keys);
    EXPECT_TRUE(tmux.WaitForText("rc=0", &screen)) << screen;
    return screen;
  }
};

TEST_F(TerminalTty, ModelessWindowShowsAdvancesAndLeavesTheScreenAsItWas) {
  StageDir dir;
  TmuxSession tmux(Demo("window", dir));
  ASSERT_TRUE(tmux.Started());
  std::string screen;

  ASSERT_TRUE(dir.Reached(1));
  EXPECT_TRUE(tmux.WaitForText("  0%", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "Progress Indicator")) << screen;
  EXPECT_TRUE(Has(screen, "Performing operation")) << screen;
  EXPECT_TRUE(Has(screen, "[....")) << screen;
  EXPECT_FALSE(Has(screen, "#")) << screen;
  EXPECT_FALSE(Has(screen, "Cancel")) << screen;  // the hidden buttons stay hidden
  dir.Go(1);

  ASSERT_TRUE(dir.Reached(2));
  EXPECT_TRUE(tmux.WaitForText(" 50%", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "Writing")) << screen;
  EXPECT_TRUE(Has(screen, "[#####")) << screen;
  dir.Go(2);

  ASSERT_TRUE(dir.Reached(3));
  EXPECT_TRUE(tmux.WaitUntilGone("Progress Indicator", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "shell line")) << screen;
  EXPECT_TRUE(Has(screen, "line before 1\nline before 2")) << screen;
  dir.Go(3);

  ASSERT_TRUE(dir.Reached(4));
  EXPECT_TRUE(tmux.WaitForText("Verifying", &screen)) << screen;
  EXPECT_TRUE(Has(screen, " 50%")) << screen;  // the state kept while hidden
  dir.Go(4);
  ASSERT_TRUE(dir.Reached(5));
  EXPECT_TRUE(tmux.WaitUntilGone("Verifying", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "shell line\nline before 1\nline before 2")) << screen;
  dir.Go(5);
  EXPECT_TRUE(tmux.WaitForText("rc=0", &screen)) << screen;
  // ncurses' signal handlers never stay in place; the terminal's modes are
  // the client's again once the window is hidden.
  EXPECT_TRUE(Has(screen, "line before 2\nwhile shown: signals kept,")) << screen;
  EXPECT_TRUE(Has(screen, "after hide: signals kept, tty kept\nwindow done\nrc=0")) << screen;
}

TEST_F(TerminalTty, ModalDialogTakesKeysAndRestoresTheTerminal) {
  StageDir dir;
  TmuxSession tmux(Demo("modal", dir));
  std::string screen;
  ASSERT_TRUE(OpenModal(tmux, dir, &screen)) << screen;
  // The frame with the caption, the default button in <>, the label centred
  // in each button, the list's arrow, the group's box around its buttons.
  // The caption can be on the screen before the rest of the dialog (a busy
  // machine shows the drawing halfway), so the wait is for all of it.
  std::string line;
  for (int i = 0; i < 52; ++i) line += "─";
  const std::vector<std::string> rows = {"COM Port:",  // mnemonic marker not shown
                                         "[COM2",
                                         "(*) No",
                                         "( ) Even",
                                         "Cancel",
                                         "┌─ Test Setup ───",
                                         "│  COM Port:    [COM2     v]           <    OK     > │",
                                         "│                                      [  Cancel   ] │",
                                         "│  ┌Parity─────┐    ",
                                         "│  │(*) No     │    ",
                                         "│  │           │    ",
                                         "│  └───────────┘    ",
                                         "└" + line + "┘"};
  auto allDrawn = [&](const std::string& s) {
    for (const std::string& row : rows)
      if (!Has(s, row)) return false;
    return true;
  };
  if (!tmux.WaitFor(allDrawn, &screen)) {
    for (const std::string& row : rows) EXPECT_TRUE(Has(screen, row)) << row << "\n" << screen;
  }

  // Down on the list: COM3; Tab to the parity group; Down twice: Even.
  tmux.Keys("Down Tab Down Down");
  EXPECT_TRUE(tmux.WaitForText("(*) Even", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "[COM3")) << screen;
  tmux.Keys("Enter");
  EXPECT_TRUE(tmux.WaitForText("rc=0", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "result=1 port=COM3 parity=2")) << screen;
  EXPECT_FALSE(Has(screen, "Test Setup")) << screen;
  EXPECT_TRUE(Has(screen, "shell line\nline before 1\nline before 2\nresult=1")) << screen;
}

TEST_F(TerminalTty, EscapeCancelsTheModalDialog) {
  const std::string screen = ScreenAfterKeys("Down Escape");
  // The model keeps what the user did; the caller sees Cancel.
  EXPECT_TRUE(Has(screen, "result=2 port=COM3 parity=0")) << screen;
}

}  // namespace

namespace {

// A terminal type without cursor addressing, or one unknown to terminfo:
// the dialog fails to open and the program goes on.
TEST_F(TerminalTty, UnusableTerminalTypeFailsToOpen) {
  StageDir dir;
  TmuxSession tmux("for t in dumb no-such-terminal; do TERM=$t " + std::string(UI_TTY_DEMO) +
                   " modal " + dir.Path() + "; done; echo finished");
  ASSERT_TRUE(tmux.Started());
  std::string screen;
  EXPECT_TRUE(tmux.WaitForText("finished", &screen)) << screen;
  EXPECT_TRUE(Has(screen,
                  "line before 2\nresult=-1 port= parity=-1\nline before 1\nline before "
                  "2\nresult=-1 port= parity=-1\nfinished"))
      << screen;
}

}  // namespace

namespace {

// Tab and Shift-Tab walk the tab stops; Enter presses the focused button.
TEST_F(TerminalTty, ShiftTabAndEnterOnTheFocusedButton) {
  // list -> parity -> OK -> Cancel -> list, back to Cancel; Up on a button does nothing.
  const std::string screen = ScreenAfterKeys("Tab Tab Tab Tab BTab Up Enter");
  EXPECT_TRUE(Has(screen, "result=2 port=COM2 parity=0")) << screen;
}

}  // namespace

namespace {

// A client that draws with ncurses itself keeps its screen and windows.
TEST_F(TerminalTty, ClientWithItsOwnCursesScreenKeepsIt) {
  StageDir dir;
  TmuxSession tmux(Demo("curses", dir));
  ASSERT_TRUE(tmux.Started());
  std::string screen;
  EXPECT_TRUE(tmux.WaitForText("rc=0", &screen)) << screen;
  std::string verdict;
  if (FILE* f = std::fopen((dir.Path() + "/verdict").c_str(), "r")) {
    char buf[64] = {};
    if (std::fgets(buf, sizeof buf, f)) verdict = buf;
    std::fclose(f);
  }
  EXPECT_EQ(verdict, "client screen kept\n");
}

}  // namespace

namespace {

// A terminal program on a desktop (DISPLAY or WAYLAND_DISPLAY set, but a
// controlling terminal) keeps the terminal backend; HOLM_UI overrides.
TEST_F(TerminalTty, DisplayWithTerminalKeepsTheTerminalBackend) {
  const std::string demo = std::string(UI_TTY_DEMO) + " backend -";
  TmuxSession tmux("unset HOLM_UI; DISPLAY=:97 " + demo + "; WAYLAND_DISPLAY=wayland-7 " + demo +
                   "; HOLM_UI=desktop DISPLAY=:97 " + demo + "; echo finished");
  ASSERT_TRUE(tmux.Started());
  std::string screen;
  EXPECT_TRUE(tmux.WaitForText("finished", &screen)) << screen;
  EXPECT_TRUE(Has(screen,
                  "backend=terminal\nline before 1\nline before 2\nbackend=terminal\n"
                  "line before 1\nline before 2\nbackend=desktop\nfinished"))
      << screen;
}

}  // namespace
