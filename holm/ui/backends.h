// Inside the UI layer: what the platform files supply to the backend choice.
#ifndef HOLM_UI_BACKENDS_H
#define HOLM_UI_BACKENDS_H

#include <string>

#include "holm/ui/ui.h"

namespace holm::ui {

// A window that shows nothing (no display); the model keeps the state.
class InvisibleWindow : public WindowImpl {
 public:
  void Show() override {}
  void Hide() override {}
  void Repaint(int) override {}
};

// The platform's backends by name ("terminal" on POSIX, "win32" on
// Windows), or null.
Backend* PlatformBackend(const std::string& name);
// The platform's default backend name.
const char* PlatformDefaultBackendName();

// POSIX: the terminal and desktop backends, and the default between them:
// the desktop when there is a display but no controlling terminal.
Backend* TerminalBackendInstance();
Backend* DesktopBackendInstance();
const char* ChoosePosixBackend(bool haveDisplay, bool haveTerminal);

}  // namespace holm::ui

#endif  // HOLM_UI_BACKENDS_H
