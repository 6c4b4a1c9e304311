// Progress on a real terminal (a tmux pane): the window appears on Show,
// advances with every call, disappears on Hide, and the lines the program
// printed before are still there.
#include <gtest/gtest.h>

#include "tests/ui/tmux_session.h"

namespace {

using th_test::Has;
using th_test::StageDir;
using th_test::TmuxSession;

TEST(ProgressTty, WindowAppearsAdvancesAndGoes) {
  if (!TmuxSession::Available()) GTEST_SKIP() << "tmux is not installed";
  StageDir dir;
  TmuxSession tmux("printf 'shell line\\n'; " + std::string(PROGRESS_TTY_DEMO) + " " + dir.Path() +
                   "; echo rc=$?");
  ASSERT_TRUE(tmux.Started());
  std::string screen;

  ASSERT_TRUE(dir.Reached(1));
  ASSERT_TRUE(tmux.WaitForText("Progress Indicator", &screen)) << screen;
  EXPECT_TRUE(Has(screen, "Performing operation")) << screen;
  EXPECT_TRUE(Has(screen, "[....")) << screen;
  EXPECT_TRUE(Has(screen, "  0%")) << screen;
  dir.Go(1);

  ASSERT_TRUE(dir.Reached(2));
  EXPECT_TRUE(tmux.WaitForText(" 14%", &screen)) << screen;  // 15 of 101
  EXPECT_TRUE(Has(screen, "Download")) << screen;
  EXPECT_TRUE(Has(screen, "Erasing")) << screen;
  EXPECT_FALSE(Has(screen, "Progress Indicator")) << screen;
  EXPECT_TRUE(Has(screen, "[#######.")) << screen;
  dir.Go(2);

  ASSERT_TRUE(dir.Reached(3));
  EXPECT_TRUE(tmux.WaitForText(" 64%", &screen)) << screen;  // 65 of 101
  EXPECT_TRUE(Has(screen, "Writing")) << screen;
  EXPECT_TRUE(Has(screen, "Download")) << screen;
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
