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
    case ControlKind::DropDownList:
    case ControlKind::PushButton:
      return true;
    case ControlKind::RadioButton:
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
  if (KindAt(index) != ControlKind::RadioButton) return index;
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
  if (KindAt(at) == ControlKind::RadioButton) {
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
  if (c.visible && (kind == ControlKind::DropDownList || kind == ControlKind::RadioButton ||
                    kind == ControlKind::PushButton))
    focused_ = index;
}

int ModalNavigator::DefaultButton() const {
  for (const ControlState& c : dialog_.Controls())
    if (c.tmpl->kind == ControlKind::PushButton && c.tmpl->defaultButton) return c.tmpl->id;
  return kIdOk;
}

int ModalNavigator::Handle(Key key) {
  if (key == Key::Escape) return kIdCancel;
  if (focused_ < 0) return key == Key::Enter ? DefaultButton() : 0;
  ControlState& c = dialog_.Controls()[static_cast<size_t>(focused_)];
  switch (key) {
    case Key::Tab:
      MoveTab(1);
      return 0;
    case Key::BackTab:
      MoveTab(-1);
      return 0;
    case Key::Enter:
      return c.tmpl->kind == ControlKind::PushButton ? c.tmpl->id : DefaultButton();
    case Key::Space:
      if (c.tmpl->kind == ControlKind::PushButton) return c.tmpl->id;
      if (c.tmpl->kind == ControlKind::RadioButton) dialog_.SetChecked(c.tmpl->id, true);
      return 0;
    case Key::Up:
    case Key::Down:
    case Key::Left:
    case Key::Right: {
      const int step = (key == Key::Up || key == Key::Left) ? -1 : 1;
      if (c.tmpl->kind == ControlKind::DropDownList) {
        if (key == Key::Left || key == Key::Right) return 0;
        const int count = static_cast<int>(c.items.size());
        if (count == 0) return 0;
        int next = c.selected < 0 ? 0 : c.selected + step;
        if (next < 0) next = 0;
        if (next >= count) next = count - 1;
        c.selected = next;
      } else if (c.tmpl->kind == ControlKind::RadioButton) {
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
