// Dialog templates as data. Every backend (terminal, Win32, headless) builds
// its window from the same template: the Win32 backend turns it into an
// in-memory DLGTEMPLATE, the terminal backend draws it in character cells
// (4 horizontal and 8 vertical dialog units per cell), the headless backend
// only keeps the controls' state.
//
// Texts are narrow strings in the system code page, as the objects hold them.
// A '&' in a label or button text marks the next character as the control's
// mnemonic; "&&" is a literal '&'.
#ifndef HOLM_UI_DIALOG_TEMPLATE_H
#define HOLM_UI_DIALOG_TEMPLATE_H

#include <string>
#include <utility>
#include <vector>

namespace holm::ui {

// Identifier of controls that are never addressed (labels, group boxes).
inline constexpr int kStaticId = -1;

enum class ControlKind {
  kLabel,         // static text, left aligned
  kDropDownList,  // combo box that cannot be edited; height includes the open list
  kGroupBox,      // frame with a title around related controls
  kRadioButton,   // automatic radio button; see ControlTemplate::firstOfGroup
  kPushButton,    // command button; see ControlTemplate::defaultButton
  kProgressBar,   // the common progress bar control; see ControlTemplate::bordered
};

// A rectangle in dialog units, relative to the dialog's client area.
struct DlgRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

struct ControlTemplate {
  int id = kStaticId;
  ControlKind kind = ControlKind::kLabel;
  std::string text;
  DlgRect rect;
  // Radio buttons: this button starts a new group. A group is this button
  // and the radio buttons that follow it directly in the template, up to the
  // next button that starts a group or the next control of another kind.
  bool firstOfGroup = false;
  // Push buttons: the default button (Enter presses it).
  bool defaultButton = false;
  // The control is created hidden.
  bool hidden = false;
  // Progress bars: drawn with a border.
  bool bordered = false;
};

// A control of `kind` showing `text` at `rect`, with every flag off.
inline ControlTemplate MakeControl(int id, ControlKind kind, std::string text, DlgRect rect) {
  ControlTemplate c;
  c.id = id;
  c.kind = kind;
  c.text = std::move(text);
  c.rect = rect;
  return c;
}

// Window style flags of a dialog template.
enum DialogStyle : unsigned {
  kStyleCaption = 1u << 0,     // title bar with the caption
  kStyleModalFrame = 1u << 1,  // dialog frame
  kStyleSystemMenu = 1u << 2,  // system menu (close box) in the title bar
  kStyleCentered = 1u << 3,    // centred on the screen
  kStyleVisible = 1u << 4,     // visible as soon as it is created
};

struct DialogTemplate {
  int id = 0;  // template (resource) number, e.g. 130
  std::string caption;
  int width = 0;  // dialog units
  int height = 0;
  std::string fontName = "MS Sans Serif";
  int fontSize = 8;  // points
  unsigned style = kStyleCaption | kStyleModalFrame | kStyleCentered;
  std::vector<ControlTemplate> controls;

  // The first control with this identifier, or null.
  const ControlTemplate* Find(int controlId) const {
    for (const ControlTemplate& c : controls)
      if (c.id == controlId) return &c;
    return nullptr;
  }
};

}  // namespace holm::ui

#endif  // HOLM_UI_DIALOG_TEMPLATE_H
