// The live dialog model.
#include <cstdint>

#include "holm/ui/ui.h"
#include "serial/ascii.h"

namespace holm::ui {
namespace {

// A progress bar bound as the control takes it: a 16-bit unsigned word.
int Word(int v) {
  return static_cast<int>(static_cast<uint32_t>(v) & 0xFFFFu);
}

}  // namespace

Dialog::Dialog(const DialogTemplate& tmpl) : tmpl_(tmpl), caption_(tmpl.caption) {
  controls_.reserve(tmpl.controls.size());
  for (const ControlTemplate& c : tmpl.controls) {
    ControlState s;
    s.tmpl = &c;
    s.text = c.text;
    s.visible = !c.hidden;
    if (c.kind == ControlKind::kProgressBar) {
      // The platform control starts with range 0 ... 100.
      s.rangeMin = 0;
      s.rangeMax = 100;
    }
    controls_.push_back(std::move(s));
  }
}

int Dialog::IndexOf(int id) const {
  for (size_t i = 0; i < controls_.size(); ++i)
    if (controls_[i].tmpl->id == id) return static_cast<int>(i);
  return -1;
}

ControlState* Dialog::Find(int id) {
  int i = IndexOf(id);
  return i < 0 ? nullptr : &controls_[static_cast<size_t>(i)];
}

const ControlState* Dialog::Find(int id) const {
  int i = IndexOf(id);
  return i < 0 ? nullptr : &controls_[static_cast<size_t>(i)];
}

std::string Dialog::Text(int id) const {
  const ControlState* c = Find(id);
  return c ? c->text : std::string();
}

void Dialog::SetText(int id, std::string text) {
  if (ControlState* c = Find(id)) c->text = std::move(text);
}

bool Dialog::Visible(int id) const {
  const ControlState* c = Find(id);
  return c && c->visible;
}

void Dialog::SetVisible(int id, bool visible) {
  if (ControlState* c = Find(id)) c->visible = visible;
}

static ControlState* ListOf(Dialog& d, int id) {
  ControlState* c = d.Find(id);
  return (c && c->tmpl->kind == ControlKind::kDropDownList) ? c : nullptr;
}

static const ControlState* ListOf(const Dialog& d, int id) {
  const ControlState* c = d.Find(id);
  return (c && c->tmpl->kind == ControlKind::kDropDownList) ? c : nullptr;
}

void Dialog::AddItem(int id, std::string item) {
  if (ControlState* c = ListOf(*this, id)) c->items.push_back(std::move(item));
}

void Dialog::ResetItems(int id) {
  if (ControlState* c = ListOf(*this, id)) {
    c->items.clear();
    c->selected = -1;
  }
}

int Dialog::ItemCount(int id) const {
  const ControlState* c = ListOf(*this, id);
  return c ? static_cast<int>(c->items.size()) : 0;
}

int Dialog::SelectedIndex(int id) const {
  const ControlState* c = ListOf(*this, id);
  return c ? c->selected : -1;
}

void Dialog::SetSelectedIndex(int id, int index) {
  ControlState* c = ListOf(*this, id);
  if (!c) return;
  c->selected = (index >= 0 && index < static_cast<int>(c->items.size())) ? index : -1;
}

std::string Dialog::SelectedText(int id) const {
  const ControlState* c = ListOf(*this, id);
  if (!c || c->selected < 0) return std::string();
  return c->items[static_cast<size_t>(c->selected)];
}

int Dialog::SelectPrefix(int id, const std::string& prefix) {
  ControlState* c = ListOf(*this, id);
  if (!c) return -1;
  for (size_t i = 0; i < c->items.size(); ++i) {
    if (serial::StartsWithNoCase(c->items[i], prefix)) {
      c->selected = static_cast<int>(i);
      return c->selected;
    }
  }
  return -1;
}

std::vector<int> Dialog::Group(int id) const {
  int at = IndexOf(id);
  if (at < 0 || controls_[static_cast<size_t>(at)].tmpl->kind != ControlKind::kRadioButton)
    return {};
  auto isRadio = [&](int i) {
    return controls_[static_cast<size_t>(i)].tmpl->kind == ControlKind::kRadioButton;
  };
  int first = at;
  while (first > 0 && !controls_[static_cast<size_t>(first)].tmpl->firstOfGroup &&
         isRadio(first - 1))
    --first;
  std::vector<int> ids{controls_[static_cast<size_t>(first)].tmpl->id};
  for (int i = first + 1; i < static_cast<int>(controls_.size()); ++i) {
    if (!isRadio(i) || controls_[static_cast<size_t>(i)].tmpl->firstOfGroup) break;
    ids.push_back(controls_[static_cast<size_t>(i)].tmpl->id);
  }
  return ids;
}

bool Dialog::Checked(int id) const {
  const ControlState* c = Find(id);
  return c && c->tmpl->kind == ControlKind::kRadioButton && c->checked;
}

void Dialog::SetChecked(int id, bool checked) {
  ControlState* c = Find(id);
  if (!c || c->tmpl->kind != ControlKind::kRadioButton) return;
  if (checked) {
    for (int other : Group(id))
      if (ControlState* o = Find(other)) o->checked = false;
  }
  c->checked = checked;
}

int Dialog::CheckedIndex(int id) const {
  std::vector<int> group = Group(id);
  for (size_t i = 0; i < group.size(); ++i)
    if (Checked(group[i])) return static_cast<int>(i);
  return -1;
}

void Dialog::CheckIndex(int id, int index) {
  std::vector<int> group = Group(id);
  for (size_t i = 0; i < group.size(); ++i)
    if (ControlState* c = Find(group[i])) c->checked = static_cast<int>(i) == index;
}

static ControlState* BarOf(Dialog& d, int id) {
  ControlState* c = d.Find(id);
  return (c && c->tmpl->kind == ControlKind::kProgressBar) ? c : nullptr;
}

static const ControlState* BarOf(const Dialog& d, int id) {
  const ControlState* c = d.Find(id);
  return (c && c->tmpl->kind == ControlKind::kProgressBar) ? c : nullptr;
}

static void KeepInRange(ControlState& c) {
  if (c.pos > c.rangeMax) c.pos = c.rangeMax;
  if (c.pos < c.rangeMin) c.pos = c.rangeMin;
}

void Dialog::SetRange(int id, int lo, int hi) {
  ControlState* c = BarOf(*this, id);
  if (!c) return;
  c->rangeMin = Word(lo);
  c->rangeMax = Word(hi);
  KeepInRange(*c);
}

void Dialog::SetPos(int id, int pos) {
  ControlState* c = BarOf(*this, id);
  if (!c) return;
  c->pos = pos;
  KeepInRange(*c);
}

int Dialog::Pos(int id) const {
  const ControlState* c = BarOf(*this, id);
  return c ? c->pos : 0;
}

int Dialog::RangeMin(int id) const {
  const ControlState* c = BarOf(*this, id);
  return c ? c->rangeMin : 0;
}

int Dialog::RangeMax(int id) const {
  const ControlState* c = BarOf(*this, id);
  return c ? c->rangeMax : 0;
}

std::string StripMnemonic(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace holm::ui
