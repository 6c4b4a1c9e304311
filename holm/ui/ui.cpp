// Modal dialogs, modeless windows and the choice of backend.
#include "holm/ui/ui.h"

#include <atomic>
#include <cstdlib>

#include "holm/ui/backends.h"
#include "holm/ui/headless.h"

namespace holm::ui {
namespace {

// No display at all: modal dialogs fail to open, windows keep their state
// but show nothing.
class NoneBackend : public Backend {
 public:
  const char* Name() const override { return "none"; }
  int RunModal(Dialog&, const ModalHandlers&) override { return kCannotOpen; }
  std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow&) override {
    return std::make_unique<InvisibleWindow>();
  }
};

std::atomic<Backend*> g_installed{nullptr};

Backend& DefaultBackend() {
  static Backend* const chosen = [] {
    const char* forced = std::getenv("HOLM_UI");
    if (forced != nullptr && *forced != '\0') {
      if (Backend* b = BackendByName(forced)) return b;
    }
    if (Backend* b = BackendByName(PlatformDefaultBackendName())) return b;
    return BackendByName("none");
  }();
  return *chosen;
}

}  // namespace

Backend* BackendByName(const std::string& name) {
  if (name == "none") {
    static NoneBackend none;
    return &none;
  }
  if (name == "headless") {
    // A process-wide headless backend for HOLM_UI=headless: modal dialogs
    // open and are cancelled at once; windows keep their state.
    static HeadlessBackend headless;
    return &headless;
  }
  return PlatformBackend(name);
}

Backend& CurrentBackend() {
  Backend* b = g_installed.load();
  return b != nullptr ? *b : DefaultBackend();
}

void SetBackend(Backend* backend) {
  g_installed.store(backend);
}

Backend* InstalledBackend() {
  return g_installed.load();
}

int RunModal(Dialog& dlg, const ModalHandlers& handlers) {
  return CurrentBackend().RunModal(dlg, handlers);
}

ModelessWindow::ModelessWindow(const DialogTemplate& tmpl, Backend& backend) : model_(tmpl) {
  impl_ = backend.CreateWindowImpl(*this);
  if (tmpl.style & kStyleVisible) Show();
}

ModelessWindow::~ModelessWindow() {
  // The implementation goes first: it may still read the model.
  impl_.reset();
}

void ModelessWindow::Show() {
  visible_ = true;
  impl_->Show();
}

void ModelessWindow::Hide() {
  visible_ = false;
  impl_->Hide();
}

void ModelessWindow::SetCaption(std::string caption) {
  model_.SetCaption(std::move(caption));
  impl_->Repaint(kCaptionPart);
}

void ModelessWindow::SetText(int id, std::string text) {
  model_.SetText(id, std::move(text));
  impl_->Repaint(id);
}

void ModelessWindow::SetRange(int id, int lo, int hi) {
  model_.SetRange(id, lo, hi);
  impl_->Repaint(id);
}

void ModelessWindow::SetPos(int id, int pos) {
  model_.SetPos(id, pos);
  impl_->Repaint(id);
}

void ModelessWindow::Repaint(int part) {
  impl_->Repaint(part);
}

std::unique_ptr<ModelessWindow> CreateModeless(const DialogTemplate& tmpl) {
  return std::make_unique<ModelessWindow>(tmpl, CurrentBackend());
}

}  // namespace holm::ui
