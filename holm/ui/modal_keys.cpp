// Keyboard handling of a modal dialog on a character terminal.
#include "holm/ui/modal_keys.h"

namespace holm::ui {

ModalNavigator::ModalNavigator(Dialog& dialog) : dialog_(dialog) {
  // The first tab stop takes the focus, as on the desktop.
  for (int i = 0; i < static_cast<int>(dialog_.Controls().size()); ++i) {
    if (IsTabStop(i)) {
      focused_ = GroupFocus(i);
      break;
    }
  }
}

ControlKind ModalNavigator::KindAt(int index) const {
  return dialog_.Controls()[static_cast<size_t>(index)].tmpl->kind;
}

bool ModalNavigator::IsTabStop(int index) const {
  const ControlState& c = dialog_.Controls()[static_cast<size_t>(index)];
  if (!c.visible) return false;
  switch (c.tmpl->kind) {
    case ControlKind::kDropDownList:
    case ControlKind::kPushButton:
      return true;
    case ControlKind::kRadioButton:
      // One stop per group: at the first visible button of the group.
      for (int id : dialog_.Group(c.tmpl->id)) {
        const ControlState* g = dialog_.Find(id);
        if (g && g->visible) return g == &c;
      }
      return false;
    default:
      return false;
  }
}

int ModalNavigator::GroupFocus(int index) const {
  if (KindAt(index) != ControlKind::kRadioButton) return index;
  const auto& controls = dialog_.Controls();
  for (int id : dialog_.Group(controls[static_cast<size_t>(index)].tmpl->id)) {
    const ControlState* g = dialog_.Find(id);
    if (g && g->visible && g->checked) return static_cast<int>(g - controls.data());
  }
  return index;
}

void ModalNavigator::MoveTab(int step) {
  if (focused_ < 0) return;
  const int n = static_cast<int>(dialog_.Controls().size());
  // Find the tab stop that the focused control belongs to.
  int at = focused_;
  if (KindAt(at) == ControlKind::kRadioButton) {
    while (!IsTabStop(at)) at = (at + n - 1) % n;
  }
  for (int k = 1; k <= n; ++k) {
    int i = ((at + step * k) % n + n) % n;
    if (IsTabStop(i)) {
      focused_ = GroupFocus(i);
      return;
    }
  }
}

void ModalNavigator::SetFocused(int index) {
  if (index < 0 || index >= static_cast<int>(dialog_.Controls().size())) return;
  const ControlState& c = dialog_.Controls()[static_cast<size_t>(index)];
  const ControlKind kind = c.tmpl->kind;
  if (c.visible && (kind == ControlKind::kDropDownList || kind == ControlKind::kRadioButton ||
                    kind == ControlKind::kPushButton))
    focused_ = index;
}

int ModalNavigator::DefaultButton() const {
  for (const ControlState& c : dialog_.Controls())
    if (c.tmpl->kind == ControlKind::kPushButton && c.tmpl->defaultButton) return c.tmpl->id;
  return kIdOk;
}

int ModalNavigator::Handle(Key key) {
  if (key == Key::kEscape) return kIdCancel;
  if (focused_ < 0) return key == Key::kEnter ? DefaultButton() : 0;
  ControlState& c = dialog_.Controls()[static_cast<size_t>(focused_)];
  switch (key) {
    case Key::kTab:
      MoveTab(1);
      return 0;
    case Key::kBackTab:
      MoveTab(-1);
      return 0;
    case Key::kEnter:
      return c.tmpl->kind == ControlKind::kPushButton ? c.tmpl->id : DefaultButton();
    case Key::kSpace:
      if (c.tmpl->kind == ControlKind::kPushButton) return c.tmpl->id;
      if (c.tmpl->kind == ControlKind::kRadioButton) dialog_.SetChecked(c.tmpl->id, true);
      return 0;
    case Key::kUp:
    case Key::kDown:
    case Key::kLeft:
    case Key::kRight: {
      const int step = (key == Key::kUp || key == Key::kLeft) ? -1 : 1;
      if (c.tmpl->kind == ControlKind::kDropDownList) {
        if (key == Key::kLeft || key == Key::kRight) return 0;
        const int count = static_cast<int>(c.items.size());
        if (count == 0) return 0;
        int next = c.selected < 0 ? 0 : c.selected + step;
        if (next < 0) next = 0;
        if (next >= count) next = count - 1;
        c.selected = next;
      } else if (c.tmpl->kind == ControlKind::kRadioButton) {
        std::vector<int> group = dialog_.Group(c.tmpl->id);
        const int size = static_cast<int>(group.size());
        int pos = 0;
        while (pos < size && group[static_cast<size_t>(pos)] != c.tmpl->id) ++pos;
        for (int k = 1; k < size; ++k) {
          int id = group[static_cast<size_t>(((pos + step * k) % size + size) % size)];
          ControlState* g = dialog_.Find(id);
          if (g && g->visible) {
            dialog_.SetChecked(id, true);
            focused_ = static_cast<int>(g - dialog_.Controls().data());
            break;
          }
        }
      }
      return 0;
    }
    default:
      return 0;
  }
}

}  // namespace holm::ui
