// The demo's side of the stage handshake between a terminal demo and its
// test (the test's side is StageDir, tmux_session.h): when step n is on the
// screen the demo creates <dir>/stage_<n>, then waits for the test to create
// <dir>/go_<n> once it has looked.
#ifndef TESTS_UI_STAGE_MARK_H
#define TESTS_UI_STAGE_MARK_H

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace th_test {

// Marks stage n in `dir` and waits up to 20 s for the go; false when it
// does not come.
inline bool MarkStageAndWait(const std::string& dir, int n) {
  const std::string mark = dir + "/stage_" + std::to_string(n);
  if (FILE* f = std::fopen(mark.c_str(), "w")) std::fclose(f);
  const std::string go = dir + "/go_" + std::to_string(n);
  struct stat st;
  for (int i = 0; i < 2000; ++i) {
    if (stat(go.c_str(), &st) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace th_test

#endif  // TESTS_UI_STAGE_MARK_H
