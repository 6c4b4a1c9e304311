// Keyboard handling of a modal dialog shown on a character terminal, kept
// apart from the drawing so that it works on the model alone.
//
// Tab stops are the visible drop-down lists, radio groups (one stop per
// group) and push buttons, in template order. Tab / Shift-Tab move between
// them; Up/Down change a list's selection; the arrows move within a radio
// group and check the button reached (automatic radio buttons); Space checks
// the focused radio button or presses the focused push button; Enter presses
// the focused push button, elsewhere the default button; Escape cancels.
#ifndef HOLM_UI_MODAL_KEYS_H
#define HOLM_UI_MODAL_KEYS_H

#include <vector>

#include "holm/ui/ui.h"

namespace holm::ui {

enum class Key { kTab, kBackTab, kUp, kDown, kLeft, kRight, kSpace, kEnter, kEscape, kOther };

class ModalNavigator {
 public:
  explicit ModalNavigator(Dialog& dialog);

  // Index into Dialog::Controls() of the focused control, -1 if nothing can
  // take the focus.
  int Focused() const { return focused_; }
  // The user put the focus on control index with the mouse or a mnemonic:
  // taken when that control can have the focus (a visible list, radio
  // button or push button), ignored otherwise.
  void SetFocused(int index);
  // Handles one key: 0 while the dialog stays open, otherwise the pressed
  // button's identifier (kIdOk, kIdCancel or another button's id).
  int Handle(Key key);

 private:
  ControlKind KindAt(int index) const;
  bool IsTabStop(int index) const;
  int GroupFocus(int index) const;  // the button of index's group that takes the focus
  void MoveTab(int step);
  int DefaultButton() const;

  Dialog& dialog_;
  int focused_ = -1;
};

}  // namespace holm::ui

#endif  // HOLM_UI_MODAL_KEYS_H
