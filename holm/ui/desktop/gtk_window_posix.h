// One window of the window helper, built with GTK 3 from a dialog template:
// every control at its template rectangle, dialog units turned into pixels
// by the metrics of the template's font as the platform dialogs do (a
// horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its height), the font being the template's
// face where it is installed and the desktop's sans-serif face otherwise,
// at the template's size.
//
// The window keeps a model of its own (holm::ui::Dialog) and takes the
// keyboard exactly as the other backends do (holm/ui/modal_keys.h): Tab
// and Shift-Tab go through the lists, radio groups and buttons in template
// order, the arrows change a list's selection or move within a radio
// group, Space presses the focused button, Enter presses the focused push
// button and elsewhere the default one, Escape and the close box cancel.
// A modal window reports the choices and the pressed button (OK or Cancel)
// through the reporter; a modeless one ignores Enter, Escape and its close
// box (it has no cancel path).
#ifndef HOLM_UI_DESKTOP_GTK_WINDOW_POSIX_H
#define HOLM_UI_DESKTOP_GTK_WINDOW_POSIX_H

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "holm/ui/modal_keys.h"
#include "holm/ui/ui.h"

namespace holm::ui::desktop {

class GtkDialogWindow {
 public:
  using Reporter = std::function<void(const std::string& messages)>;
  // tmpl must outlive the window. Texts arrive in charset.
  GtkDialogWindow(const DialogTemplate& tmpl, std::string charset, Reporter report);
  ~GtkDialogWindow();
  GtkDialogWindow(const GtkDialogWindow&) = delete;
  GtkDialogWindow& operator=(const GtkDialogWindow&) = delete;

  // A state line (caption, text, visible, items, select, check, bar).
  void Apply(const std::vector<std::string>& fields);
  void Show();
  void Hide();
  // Shows the window as a modal dialog; input is taken until a button ends it.
  void StartModal();
  // OK was refused: the dialog takes input again.
  void Resume() { waiting_ = false; }

 private:
  static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer self);
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
  static void OnChanged(GtkComboBox* combo, gpointer self);
  static void OnToggled(GtkToggleButton* radio, gpointer self);
  static void OnClicked(GtkButton* button, gpointer self);

  void Build();
  GtkWidget* MakeControl(size_t index);
  void Place(GtkWidget* w, const DlgRect& r, bool oneLine);
  std::string Utf8(const std::string& text) const;
  std::string Mnemonic(const std::string& text) const;
  void PushToWidget(size_t index);
  void PushAll();
  void Log(size_t index) const;
  int IndexOfWidget(GtkWidget* w) const;
  bool HandleKey(const GdkEventKey* event);
  void Press(int id);

  const DialogTemplate& tmpl_;
  std::string charset_;
  Reporter report_;
  Dialog model_;
  std::unique_ptr<ModalNavigator> nav_;  // the keyboard of a modal window
  GtkWidget* window_ = nullptr;
  GtkWidget* fixed_ = nullptr;
  std::vector<GtkWidget*> widgets_;     // one per control, in template order
  std::vector<GtkWidget*> noneRadios_;  // a hidden member of each radio group
  int baseX_ = 6, baseY_ = 13;          // pixels per 4 and per 8 dialog units
  bool modal_ = false;
  bool waiting_ = false;   // a button was reported; the client decides
  bool updating_ = false;  // the model is being pushed into the widgets
};

}  // namespace holm::ui::desktop

#endif  // HOLM_UI_DESKTOP_GTK_WINDOW_POSIX_H
