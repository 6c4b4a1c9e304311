// The headless backend: shows nothing, records everything. Tests install it
// with holm::ui::SetBackend, script the user of modal dialogs and read the
// state of modeless windows.
//
//   holm::ui::HeadlessBackend ui;
//   holm::ui::ScopedBackend use(ui);
//   ui.SetModalUser([](holm::ui::Dialog& d) {     // runs when a modal dialog opens,
//     d.SetSelectedIndex(1003, 2);                // after ModalHandlers::onInit
//     d.CheckIndex(1005, 1);
//     return holm::ui::kIdOk;                     // press OK (kIdCancel: Cancel/Escape,
//   });                                           //  kCannotOpen: acts as a dialog that
//                                                 //  failed to open, after onInit ran)
//   ... code under test ...
//   const holm::ui::ModelessWindow* w = ui.FindWindow(130);
//   w->IsVisible(); w->Model().Pos(1001); ui.RepaintCount(*w, 1001);
#ifndef HOLM_UI_HEADLESS_H
#define HOLM_UI_HEADLESS_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "holm/ui/ui.h"

namespace holm::ui {

class HeadlessBackend : public Backend {
 public:
  // The scripted user: gets the opened dialog's model (after onInit), may
  // change it like a user would, and returns how the dialog ends. Returning
  // kIdOk runs ModalHandlers::onOk; if that refuses, the user is asked again
  // (at most 16 times, then the dialog ends with kIdCancel).
  using ModalUser = std::function<int(Dialog&)>;

  const char* Name() const override { return "headless"; }
  int RunModal(Dialog& dlg, const ModalHandlers& handlers) override;
  std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow& window) override;

  // Without a user a modal dialog opens and is cancelled at once (Escape).
  void SetModalUser(ModalUser user) { user_ = std::move(user); }

  // Record of the modal dialogs run so far.
  struct ModalRecord {
    int templateId = 0;
    std::string caption;
    int result = 0;
    std::vector<ControlState> opened;  // state right after onInit
    std::vector<ControlState> closed;  // state when the dialog ended
  };
  const std::vector<ModalRecord>& ModalRuns() const { return modalRuns_; }

  // Live modeless windows created on this backend, oldest first.
  std::vector<const ModelessWindow*> Windows() const;
  // The newest live window made from template templateId, or null.
  const ModelessWindow* FindWindow(int templateId) const;
  // How often a part (control id or kCaptionPart) of a live window was
  // repainted while the window was visible, and how often the window was shown.
  int RepaintCount(const ModelessWindow& window, int part) const;
  int ShowCount(const ModelessWindow& window) const;
  // Windows created and destroyed over the backend's life.
  int WindowsCreated() const { return created_; }
  int WindowsDestroyed() const { return destroyed_; }

 private:
  class Impl;
  friend class Impl;
  struct Record {
    const ModelessWindow* window = nullptr;
    bool shown = false;
    int shows = 0;
    std::map<int, int> repaints;
  };
  Record* RecordOf(const ModelessWindow& window);
  const Record* RecordOf(const ModelessWindow& window) const;

  ModalUser user_;
  std::vector<ModalRecord> modalRuns_;
  std::vector<Record> windows_;
  int created_ = 0;
  int destroyed_ = 0;
};

// Installs a backend for a scope and restores the previous choice afterwards.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& backend);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous_;
};

}  // namespace holm::ui

#endif  // HOLM_UI_HEADLESS_H
