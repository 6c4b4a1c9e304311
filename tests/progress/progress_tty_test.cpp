// Progress on a real terminal (a tmux pane): the window appears on Show,
// advances with every call, disappears on Hide, and the lines the program
// printed before are still there.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "tests/ui/tmux_session.h"

namespace {

using th_test::Has;
using th_test::StageDir;
using th_test::TmuxSession;

// Waits until the demo stops at stage and text is on the screen.
bool Reach(StageDir& dir, TmuxSession& tmux, int stage, const char* text, std::string* screen) {
  if (!dir.Reached(stage)) {
    *screen = "stage " + std::to_string(stage) + " not reached";
    return false;
  }
  return tmux.WaitForText(text, screen);
}

// Each of texts is on the screen.
void ExpectShown(const std::string& screen, std::initializer_list<const char*> texts) {
  for (const char* text : texts) EXPECT_TRUE(Has(screen, text)) << text << "\n" << screen;
}

TEST(ProgressTty, WindowAppearsAdvancesAndGoes) {
  if (!TmuxSession::Available()) GTEST_SKIP() << "tmux is not installed";
  StageDir dir;
  TmuxSession tmux("printf 'shell line\\n'; " + std::string(PROGRESS_TTY_DEMO) + " " + dir.Path() +
                   "; echo rc=$?");
  ASSERT_TRUE(tmux.Started());
  std::string screen;

  ASSERT_TRUE(Reach(dir, tmux, 1, "Progress Indicator", &screen)) << screen;
  ExpectShown(screen, {"Performing operation", "[....", "  0%"});
  dir.Go(1);

  ASSERT_TRUE(Reach(dir, tmux, 2, " 14%", &screen)) << screen;  // 15 of 101
  ExpectShown(screen, {"Download", "Erasing", "[#######."});
  EXPECT_FALSE(Has(screen, "Progress Indicator")) << screen;
  dir.Go(2);

  ASSERT_TRUE(Reach(dir, tmux, 3, " 64%", &screen)) << screen;  // 65 of 101
  ExpectShown(screen, {"Writing", "Download"});
  dir.Go(3);

  ASSERT_TRUE(dir.Reached(4));
  EXPECT_TRUE(tmux.WaitUntilGone("Download", &screen)) << screen;
  EXPECT_FALSE(Has(screen, "Writing")) << screen;
  EXPECT_TRUE(Has(screen, "shell line\nbefore progress 1\nbefore progress 2")) << screen;
  dir.Go(4);
  EXPECT_TRUE(tmux.WaitForText("rc=0", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "before progress 2\nafter progress\nrc=0")) << screen;
}

}  // namespace
