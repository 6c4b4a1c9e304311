// The backends of POSIX systems and the default choice between them: a
// process with a display (WAYLAND_DISPLAY or DISPLAY set) and no
// controlling terminal (a desktop application started from a menu) gets
// the desktop backend; every other process the terminal backend, which
// without a terminal shows nothing (modal dialogs fail to open). HOLM_UI
// overrides the choice (see holm/ui/ui.h).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "holm/ui/backends.h"

namespace holm::ui {
namespace {

bool HaveDisplay() {
  for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

bool HaveControllingTerminal() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace

const char* ChoosePosixBackend(bool haveDisplay, bool haveTerminal) {
  return haveDisplay && !haveTerminal ? "desktop" : "terminal";
}

Backend* PlatformBackend(const std::string& name) {
  if (name == "terminal") return TerminalBackendInstance();
  if (name == "desktop") return DesktopBackendInstance();
  return nullptr;
}

const char* PlatformDefaultBackendName() {
  return ChoosePosixBackend(HaveDisplay(), HaveControllingTerminal());
}

}  // namespace holm::ui
