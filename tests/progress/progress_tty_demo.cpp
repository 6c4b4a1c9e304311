// A small client of Progress for the terminal test: run under tmux, it
// prints two lines, then drives the progress window on the terminal through
// IProgressIndicator. After each step it creates <dir>/stage_<n> and waits
// for <dir>/go_<n>, so that the test can read the screen.
#include <tarnholm/com.h>
#include <tarnholm/interfaces.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "holm/progress/progress.h"
#include "holm/progress/progress_factory.h"
#include "tests/ui/stage_mark.h"

namespace {

std::string g_dir;

bool Stage(int n) {
  return th_test::MarkStageAndWait(g_dir, n);
}

BSTR Bstr(const char16_t* s) {
  return SysAllocString(s);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: progress_tty_demo <dir>\n");
    return 2;
  }
  g_dir = argv[1];
  std::setlocale(LC_ALL, "");
  std::printf("before progress 1\nbefore progress 2\n");
  std::fflush(stdout);

  fw::CCmdTarget* object = holm::CreateProgress();
  IProgressIndicator* progress = nullptr;
  static_cast<holm::Progress*>(object)->QueryInterface(IID_IProgressIndicator,
                                                       reinterpret_cast<void**>(&progress));
  static_cast<holm::Progress*>(object)->Release();
  if (progress == nullptr) return 3;

  progress->Show();
  if (!Stage(1)) return 4;  // the template's texts
  progress->AddStep(30, Bstr(u"Erasing"), Bstr(u"Download"));
  progress->AddStep(70, Bstr(u"Writing"), Bstr(u""));
  progress->SetProgressPercent(50);
  if (!Stage(2)) return 4;  // position 15 of 101
  progress->NextStep();
  progress->SetProgress(35);
  if (!Stage(3)) return 4;  // position 65 of 101
  progress->Hide();
  if (!Stage(4)) return 4;  // gone
  progress->Release();
  std::printf("after progress\n");
  std::fflush(stdout);
  return 0;
}
