// The headless backend.
#include "holm/ui/headless.h"

#include <algorithm>

namespace holm::ui {

class HeadlessBackend::Impl : public WindowImpl {
 public:
  Impl(HeadlessBackend& backend, const ModelessWindow& window)
      : backend_(backend), window_(window) {
    Record r;
    r.window = &window;
    backend_.windows_.push_back(r);
    ++backend_.created_;
  }
  ~Impl() override {
    auto& w = backend_.windows_;
    w.erase(
        std::remove_if(w.begin(), w.end(), [&](const Record& r) { return r.window == &window_; }),
        w.end());
    ++backend_.destroyed_;
  }
  void Show() override {
    Record* r = backend_.RecordOf(window_);
    r->shown = true;
    ++r->shows;
  }
  void Hide() override { backend_.RecordOf(window_)->shown = false; }
  void Repaint(int part) override {
    Record* r = backend_.RecordOf(window_);
    if (r->shown) ++r->repaints[part];
  }

 private:
  HeadlessBackend& backend_;
  const ModelessWindow& window_;
};

int HeadlessBackend::RunModal(Dialog& dlg, const ModalHandlers& handlers) {
  ModalRecord rec;
  rec.templateId = dlg.Template().id;
  int result = kIdCancel;
  if (user_) {
    if (handlers.onInit) handlers.onInit(dlg);
    rec.opened = dlg.Controls();
    result = kIdCancel;
    for (int attempt = 0; attempt < 16; ++attempt) {
      int r = user_(dlg);
      if (r == kCannotOpen) {
        result = kCannotOpen;
        break;
      }
      if (r != kIdOk) {
        result = kIdCancel;
        break;
      }
      if (!handlers.onOk || handlers.onOk(dlg)) {
        result = kIdOk;
        break;
      }
    }
  } else {
    if (handlers.onInit) handlers.onInit(dlg);
    rec.opened = dlg.Controls();
  }
  rec.caption = dlg.Caption();
  rec.closed = dlg.Controls();
  rec.result = result;
  modalRuns_.push_back(std::move(rec));
  return result;
}

std::unique_ptr<WindowImpl> HeadlessBackend::CreateWindowImpl(const ModelessWindow& window) {
  return std::make_unique<Impl>(*this, window);
}

HeadlessBackend::Record* HeadlessBackend::RecordOf(const ModelessWindow& window) {
  for (Record& r : windows_)
    if (r.window == &window) return &r;
  return nullptr;
}

const HeadlessBackend::Record* HeadlessBackend::RecordOf(const ModelessWindow& window) const {
  for (const Record& r : windows_)
    if (r.window == &window) return &r;
  return nullptr;
}

std::vector<const ModelessWindow*> HeadlessBackend::Windows() const {
  std::vector<const ModelessWindow*> out;
  for (const Record& r : windows_) out.push_back(r.window);
  return out;
}

const ModelessWindow* HeadlessBackend::FindWindow(int templateId) const {
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
    if (it->window->Model().Template().id == templateId) return it->window;
  return nullptr;
}

int HeadlessBackend::RepaintCount(const ModelessWindow& window, int part) const {
  const Record* r = RecordOf(window);
  if (!r) return 0;
  auto it = r->repaints.find(part);
  return it == r->repaints.end() ? 0 : it->second;
}

int HeadlessBackend::ShowCount(const ModelessWindow& window) const {
  const Record* r = RecordOf(window);
  return r ? r->shows : 0;
}

ScopedBackend::ScopedBackend(Backend& backend) : previous_(InstalledBackend()) {
  SetBackend(&backend);
}

ScopedBackend::~ScopedBackend() {
  SetBackend(previous_);
}

}  // namespace holm::ui
