// A client of the UI layer for the desktop tests (run without a terminal,
// on the default backend):
//
//   desktop_probe wait      shows a window "Probe Window", waits to be killed
//   desktop_probe fork      the same, with a child that keeps the helper's
//                           socket open
//   desktop_probe exec DIR  shows the window, waits for DIR/go, then becomes
//                           `sleep 30` (exec)
//   desktop_probe twice     two modal dialogs and a window; prints each result
//   desktop_probe backend   prints the default backend's name
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "holm/ui/ui.h"

using namespace holm::ui;

namespace {

DialogTemplate ProbeTemplate() {
  DialogTemplate t;
  t.id = 950;
  t.caption = "Probe Window";
  t.width = 160;
  t.height = 40;
  ControlTemplate ok = MakeControl(kIdOk, ControlKind::kPushButton, "OK", {100, 20, 50, 14});
  ok.defaultButton = true;
  t.controls = {MakeControl(1000, ControlKind::kLabel, "probe", {7, 7, 140, 10}), ok};
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "backend") {
    std::printf("backend=%s\n", CurrentBackend().Name());
    return 0;
  }
  const DialogTemplate t = ProbeTemplate();
  if (mode == "twice") {
    for (int i = 0; i < 2; ++i) {
      Dialog d(t);
      std::printf("modal=%d\n", RunModal(d));
    }
    auto w = CreateModeless(t);
    w->Show();
    std::printf("window done\n");
    return 0;
  }
  auto w = CreateModeless(t);
  w->Show();
  std::printf("shown\n");
  std::fflush(stdout);
  if (mode == "fork" || mode == "wait") {
    if (mode == "fork" && fork() == 0) {
      // The child holds the socket until it is killed or its time is up.
      sleep(30);
      _exit(0);
    }
    for (;;) pause();
  }
  if (mode == "exec" && argc > 2) {
    const std::string go = std::string(argv[2]) + "/go";
    struct stat st;
    for (int i = 0; i < 2000 && stat(go.c_str(), &st) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    return 1;
  }
  return 2;
}
