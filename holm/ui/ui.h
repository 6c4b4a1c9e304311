// The UI layer: a live model of a dialog's controls that dialog logic reads
// and writes, running a dialog modally, and modeless windows that repaint
// synchronously. How a dialog is actually shown is up to the process-wide
// current backend:
//   - "terminal" (POSIX default): drawn with ncurses on the controlling
//     terminal (/dev/tty, never the client's stdout). Without a terminal a
//     modal dialog fails to open (RunModal returns kCannotOpen) and modeless
//     windows stay invisible but keep their state.
//   - "desktop" (POSIX default of a process that has a display, WAYLAND_DISPLAY
//     or DISPLAY, and no controlling terminal): windows on the desktop, drawn
//     by a helper program of ours (holm/ui/desktop_backend_posix.cpp).
//   - "win32" (Windows default): real dialogs built in memory from the template.
//   - "headless": records everything; tests install it, script the modal
//     user and read modeless windows' state (see holm/ui/headless.h).
//   - "none": no display at all (like the terminal backend without a terminal).
// The environment variable HOLM_UI (none | terminal | desktop | headless |
// win32) forces the default backend of the process; an unknown name or one
// the platform lacks leaves the default.
//
// Usage by dialog logic (modal):
//   holm::ui::Dialog dlg(kTemplate131);
//   holm::ui::ModalHandlers h;
//   h.onInit = [&](Dialog& d) { d.AddItem(1003, "COM1"); ...; d.SelectPrefix(1003, device); };
//   int r = holm::ui::RunModal(dlg, h);       // kIdOk, kIdCancel or kCannotOpen
//   if (r == holm::ui::kIdOk) device = dlg.SelectedText(1003);
//
// Usage for a modeless window:
//   auto wnd = holm::ui::CreateModeless(kTemplate130);   // hidden unless kStyleVisible
//   wnd->SetText(1000, "Erasing");                        // repaints the control at once
//   wnd->Show();                                          // draws the whole window at once
#ifndef HOLM_UI_UI_H
#define HOLM_UI_UI_H

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "holm/ui/dialog_template.h"

namespace holm::ui {

// Results of RunModal (the values of IDOK and IDCANCEL).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
// The dialog could not be shown (no terminal, no display, no backend).
inline constexpr int kCannotOpen = -1;

// Current state of one control.
struct ControlState {
  const ControlTemplate* tmpl = nullptr;  // points into the dialog's template
  std::string text;
  bool visible = true;
  // Drop-down lists.
  std::vector<std::string> items;
  int selected = -1;  // -1: nothing selected
  // Radio buttons.
  bool checked = false;
  // Progress bars: the range as the control holds it (16-bit bounds) and the
  // position, always kept inside the range as the platform control does.
  int rangeMin = 0;
  int rangeMax = 100;
  int pos = 0;
};

// The live model of a dialog: caption and the state of every control, in
// template order. Setters change the model only; ModelessWindow's setters
// also repaint. Operations on an identifier that the template lacks, or on a
// control of the wrong kind, do nothing (getters return empty/-1/false).
class Dialog {
 public:
  explicit Dialog(const DialogTemplate& tmpl);
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  const DialogTemplate& Template() const { return tmpl_; }
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption) { caption_ = std::move(caption); }

  std::vector<ControlState>& Controls() { return controls_; }
  const std::vector<ControlState>& Controls() const { return controls_; }
  ControlState* Find(int id);
  const ControlState* Find(int id) const;

  std::string Text(int id) const;
  void SetText(int id, std::string text);
  bool Visible(int id) const;
  void SetVisible(int id, bool visible);

  // Drop-down lists.
  void AddItem(int id, std::string item);
  void ResetItems(int id);
  int ItemCount(int id) const;
  int SelectedIndex(int id) const;
  // index outside the items (e.g. -1) clears the selection.
  void SetSelectedIndex(int id, int index);
  // Text of the selected item, empty when nothing is selected.
  std::string SelectedText(int id) const;
  // Selects the first item that begins with prefix, compared without regard
  // to case (ASCII letters), and returns its index; with no such item the
  // selection is left as it was and -1 is returned.
  int SelectPrefix(int id, const std::string& prefix);

  // Radio buttons (automatic: checking one unchecks the rest of its group).
  bool Checked(int id) const;
  void SetChecked(int id, bool checked);
  // Identifiers of the group that radio button id belongs to, in order.
  std::vector<int> Group(int id) const;
  // Position within its group of the checked button of radio id's group, -1 if none.
  int CheckedIndex(int id) const;
  // Checks the button at index in radio id's group (outside: unchecks all).
  void CheckIndex(int id, int index);

  // Progress bars. Bounds are taken as the control takes them: each is cut
  // to its low 16 bits (0 ... 65535); the position is kept inside the range.
  void SetRange(int id, int lo, int hi);
  void SetPos(int id, int pos);
  int Pos(int id) const;
  int RangeMin(int id) const;
  int RangeMax(int id) const;

 private:
  int IndexOf(int id) const;
  const DialogTemplate& tmpl_;
  std::string caption_;
  std::vector<ControlState> controls_;
};

struct ModalHandlers {
  // Called when the dialog opens, before it is drawn (fill lists, preset).
  std::function<void(Dialog&)> onInit;
  // Called when the user presses OK; return false to keep the dialog open.
  std::function<bool(Dialog&)> onOk;
};

// Shows dlg modally on the current backend and returns kIdOk, kIdCancel or
// kCannotOpen. The model holds the user's choices afterwards (also on Cancel).
// onInit runs only when the dialog really opens.
int RunModal(Dialog& dlg, const ModalHandlers& handlers = {});

class Backend;

// What a backend supplies for one modeless window.
class WindowImpl {
 public:
  virtual ~WindowImpl() = default;
  virtual void Show() = 0;
  virtual void Hide() = 0;
  // Bring one control (controlId) or the caption (kCaptionPart) up to the
  // model's state and, when the window is visible, repaint it now. Called
  // for hidden windows too, so that a later Show displays the current state.
  virtual void Repaint(int part) = 0;
};
inline constexpr int kCaptionPart = 0x7fffffff;

// A modeless window; destroyed with the object. Every setter repaints the
// changed part at once (the caller runs no message loop).
class ModelessWindow {
 public:
  ModelessWindow(const DialogTemplate& tmpl, Backend& backend);
  ~ModelessWindow();
  ModelessWindow(const ModelessWindow&) = delete;
  ModelessWindow& operator=(const ModelessWindow&) = delete;

  // Shows the window and repaints all of it at once.
  void Show();
  void Hide();
  bool IsVisible() const { return visible_; }

  void SetCaption(std::string caption);
  void SetText(int id, std::string text);
  void SetRange(int id, int lo, int hi);
  void SetPos(int id, int pos);
  // Repaints one control (or kCaptionPart) at once.
  void Repaint(int part);

  const Dialog& Model() const { return model_; }

 private:
  Dialog model_;
  bool visible_ = false;
  std::unique_ptr<WindowImpl> impl_;
};

// Creates a modeless window from tmpl on the current backend (visible only
// when the template has kStyleVisible). tmpl must outlive the window.
std::unique_ptr<ModelessWindow> CreateModeless(const DialogTemplate& tmpl);

// A way of showing dialogs.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;
  virtual int RunModal(Dialog& dlg, const ModalHandlers& handlers) = 0;
  // The window's model is final and outlives the returned object.
  virtual std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow& window) = 0;
};

// The process-wide current backend: the one installed with SetBackend, else
// the default one (HOLM_UI, else desktop or terminal on POSIX as above, and
// win32 on Windows).
Backend& CurrentBackend();
// Installs backend (not owned; it must outlive its use); null restores the default.
// Windows created earlier stay with the backend they were created on.
void SetBackend(Backend* backend);
// The backend installed with SetBackend, or null when the default is in use.
Backend* InstalledBackend();
// Backends by name: "none", "terminal", "desktop", "headless", "win32"; null when unknown
// or not available on this platform. The returned objects live for the process.
Backend* BackendByName(const std::string& name);

// Text of a label without its mnemonic markers ("&COM Port:" -> "COM Port:").
std::string StripMnemonic(const std::string& text);

}  // namespace holm::ui

#endif  // HOLM_UI_UI_H
