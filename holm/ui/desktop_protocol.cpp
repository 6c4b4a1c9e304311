// The line protocol of the desktop backend and its window helper.
#include "holm/ui/desktop_protocol.h"

#include <cstdlib>

namespace holm::ui::desktop {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Num(int v) {
  return std::to_string(v);
}

enum Flags : unsigned { kFirstOfGroup = 1, kDefault = 2, kHidden = 4, kBordered = 8 };

}  // namespace

std::string TextField(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "=";
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b <= 0x20 || b == '%' || b == 0x7F) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

std::string FieldText(std::string_view field) {
  if (!field.empty() && field.front() == '=') field.remove_prefix(1);
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '%' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 &&
        HexDigit(field[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
      i += 2;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string> SplitLine(std::string_view line) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < line.size()) {
    size_t end = line.find(' ', at);
    if (end == std::string_view::npos) end = line.size();
    if (end > at) out.emplace_back(line.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

int IntField(const std::vector<std::string>& fields, size_t index, int fallback) {
  if (index >= fields.size() || fields[index].empty()) return fallback;
  char* end = nullptr;
  const long v = std::strtol(fields[index].c_str(), &end, 10);
  return *end == '\0' ? static_cast<int>(v) : fallback;
}

std::string TemplateMessages(const DialogTemplate& t) {
  std::string out = "template " + Num(t.id) + " " + Num(t.width) + " " + Num(t.height) + " " +
                    Num(t.fontSize) + " " + Num(static_cast<int>(t.style)) + " " +
                    TextField(t.fontName) + " " + TextField(t.caption) + "\n";
  for (const ControlTemplate& c : t.controls) {
    const unsigned flags = (c.firstOfGroup ? kFirstOfGroup : 0u) |
                           (c.defaultButton ? kDefault : 0u) | (c.hidden ? kHidden : 0u) |
                           (c.bordered ? kBordered : 0u);
    out += "control " + Num(c.id) + " " + Num(static_cast<int>(c.kind)) + " " + Num(c.rect.left) +
           " " + Num(c.rect.top) + " " + Num(c.rect.width) + " " + Num(c.rect.height) + " " +
           Num(static_cast<int>(flags)) + " " + TextField(c.text) + "\n";
  }
  return out + "build\n";
}

bool ReadTemplateLine(const std::vector<std::string>& f, DialogTemplate& t) {
  if (f.empty()) return false;
  if (f[0] == "template" && f.size() >= 8) {
    t.id = IntField(f, 1);
    t.width = IntField(f, 2);
    t.height = IntField(f, 3);
    t.fontSize = IntField(f, 4, 8);
    t.style = static_cast<unsigned>(IntField(f, 5));
    t.fontName = FieldText(f[6]);
    t.caption = FieldText(f[7]);
    t.controls.clear();
    return true;
  }
  if (f[0] == "control" && f.size() >= 9) {
    const int kind = IntField(f, 2);
    if (kind < 0 || kind > static_cast<int>(ControlKind::kProgressBar)) return true;  // unknown
    ControlTemplate c;
    c.id = IntField(f, 1, kStaticId);
    c.kind = static_cast<ControlKind>(kind);
    c.rect = {IntField(f, 3), IntField(f, 4), IntField(f, 5), IntField(f, 6)};
    const auto flags = static_cast<unsigned>(IntField(f, 7));
    c.firstOfGroup = (flags & kFirstOfGroup) != 0;
    c.defaultButton = (flags & kDefault) != 0;
    c.hidden = (flags & kHidden) != 0;
    c.bordered = (flags & kBordered) != 0;
    c.text = FieldText(f[8]);
    t.controls.push_back(std::move(c));
    return true;
  }
  return false;
}

namespace {

std::string ControlMessages(const ControlState& c) {
  const std::string id = Num(c.tmpl->id);
  std::string out = "visible " + id + (c.visible ? " 1\n" : " 0\n");
  switch (c.tmpl->kind) {
    case ControlKind::kDropDownList:
      out += "items " + id;
      for (const std::string& item : c.items) out += " " + TextField(item);
      out += "\nselect " + id + " " + Num(c.selected) + "\n";
      break;
    case ControlKind::kRadioButton:
      out +=
          "text " + id + " " + TextField(c.text) + "\ncheck " + id + (c.checked ? " 1\n" : " 0\n");
      break;
    case ControlKind::kProgressBar:
      out += "bar " + id + " " + Num(c.rangeMin) + " " + Num(c.rangeMax) + " " + Num(c.pos) + "\n";
      break;
    default:
      out += "text " + id + " " + TextField(c.text) + "\n";
      break;
  }
  return out;
}

}  // namespace

std::string StateMessages(const Dialog& dlg, int part) {
  if (part == kCaptionPart) return "caption " + TextField(dlg.Caption()) + "\n";
  const ControlState* c = dlg.Find(part);
  return c == nullptr || part == kStaticId ? std::string() : ControlMessages(*c);
}

std::string AllStateMessages(const Dialog& dlg) {
  std::string out = StateMessages(dlg, kCaptionPart);
  for (const ControlState& c : dlg.Controls())
    if (c.tmpl->id != kStaticId) out += ControlMessages(c);
  return out;
}

std::string ChoiceMessages(const Dialog& dlg) {
  std::string out;
  for (const ControlState& c : dlg.Controls()) {
    if (c.tmpl->id == kStaticId) continue;
    if (c.tmpl->kind == ControlKind::kDropDownList)
      out += "select " + Num(c.tmpl->id) + " " + Num(c.selected) + "\n";
    else if (c.tmpl->kind == ControlKind::kRadioButton)
      out += "check " + Num(c.tmpl->id) + (c.checked ? " 1\n" : " 0\n");
  }
  return out;
}

bool ApplyChoice(const std::vector<std::string>& f, Dialog& dlg) {
  if (f.size() < 3) return false;
  const int id = IntField(f, 1, kStaticId);
  if (f[0] == "select") {
    dlg.SetSelectedIndex(id, IntField(f, 2, -1));
    return true;
  }
  if (f[0] == "check") {
    // Only a check is applied: unchecking the rest of the group is the
    // model's own business (automatic radio buttons).
    if (IntField(f, 2) != 0) dlg.SetChecked(id, true);
    return true;
  }
  return false;
}

bool ApplyState(const std::vector<std::string>& f, Dialog& dlg) {
  if (f.size() >= 2 && f[0] == "caption") {
    dlg.SetCaption(FieldText(f[1]));
    return true;
  }
  if (f.size() >= 2 && f[0] == "items") {
    const int id = IntField(f, 1, kStaticId);
    dlg.ResetItems(id);
    for (size_t i = 2; i < f.size(); ++i) dlg.AddItem(id, FieldText(f[i]));
    return true;
  }
  if (f.size() < 3) return false;
  const int id = IntField(f, 1, kStaticId);
  if (f[0] == "text") {
    dlg.SetText(id, FieldText(f[2]));
  } else if (f[0] == "visible") {
    dlg.SetVisible(id, IntField(f, 2) != 0);
  } else if (f[0] == "check") {
    dlg.SetChecked(id, IntField(f, 2) != 0);
  } else if (f[0] == "select") {
    dlg.SetSelectedIndex(id, IntField(f, 2, -1));
  } else if (f[0] == "bar" && f.size() >= 5) {
    dlg.SetRange(id, IntField(f, 2), IntField(f, 3));
    dlg.SetPos(id, IntField(f, 4));
  } else {
    return false;
  }
  return true;
}

}  // namespace holm::ui::desktop
