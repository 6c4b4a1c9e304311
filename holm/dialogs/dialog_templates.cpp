#include "holm/dialogs/dialog_templates.h"

namespace holm::dialogs {
namespace {

using holm::ui::ControlKind;
using holm::ui::ControlTemplate;
using holm::ui::DialogTemplate;
using holm::ui::kStaticId;
using holm::ui::MakeControl;

ControlTemplate Label(const char* text, int l, int t, int w, int h) {
  return MakeControl(kStaticId, ControlKind::kLabel, text, {l, t, w, h});
}

ControlTemplate List(int id, int l, int t, int w, int h) {
  return MakeControl(id, ControlKind::kDropDownList, "", {l, t, w, h});
}

ControlTemplate Group(const char* text, int l, int t, int w, int h) {
  return MakeControl(kStaticId, ControlKind::kGroupBox, text, {l, t, w, h});
}

ControlTemplate Radio(int id, const char* text, int l, int t, int w, int h, bool first = false) {
  ControlTemplate c = MakeControl(id, ControlKind::kRadioButton, text, {l, t, w, h});
  c.firstOfGroup = first;
  return c;
}

ControlTemplate Button(int id, const char* text, int l, int t, int w, int h,
                       bool isDefault = false) {
  ControlTemplate c = MakeControl(id, ControlKind::kPushButton, text, {l, t, w, h});
  c.defaultButton = isDefault;
  return c;
}

DialogTemplate MakeDialog(int id, int width, int height, std::vector<ControlTemplate> controls) {
  DialogTemplate d;
  d.id = id;
  d.caption = "Serial Communication Setup";
  d.width = width;
  d.height = height;
  d.fontName = "MS Sans Serif";
  d.fontSize = 8;
  // Modal frame with caption and system menu. The templates give no
  // position; the dialog opens centred, where the user looks for it.
  d.style = holm::ui::kStyleCaption | holm::ui::kStyleModalFrame | holm::ui::kStyleSystemMenu |
            holm::ui::kStyleCentered;
  d.controls = std::move(controls);
  return d;
}

}  // namespace

const DialogTemplate& PortSettingsTemplate() {
  static const DialogTemplate t = MakeDialog(kPortSettingsTemplateId, 207, 110,
                                             {
                                                 Label("&COM Port:", 7, 9, 37, 8),
                                                 List(IDC_PORT, 59, 7, 48, 81),
                                                 Label("&Baud Rate:", 7, 25, 37, 8),
                                                 List(IDC_BAUD, 59, 23, 48, 81),
                                                 Group("&Parity", 7, 48, 50, 54),
                                                 Radio(IDC_PARITY, "No", 12, 59, 36, 13, true),
                                                 Radio(IDC_ODD, "Odd", 12, 72, 36, 13),
                                                 Radio(IDC_EVEN, "Even", 12, 85, 36, 13),
                                                 Group("&Data Bits", 73, 48, 50, 54),
                                                 Radio(IDC_DATA, "7 bit", 82, 63, 33, 12, true),
                                                 Radio(IDC_DATA8, "8 bit", 82, 78, 35, 12),
                                                 Group("&Stop Bits", 138, 48, 50, 54),
                                                 Radio(IDC_STOP, "1 bit", 145, 59, 29, 10, true),
                                                 Radio(IDC_STOP15, "1.5 bit", 145, 72, 35, 10),
                                                 Radio(IDC_STOP2, "2 bits", 145, 85, 33, 10),
                                                 Button(1, "OK", 150, 7, 50, 14, true),
                                                 Button(2, "Cancel", 150, 25, 50, 14),
                                             });
  return t;
}

const DialogTemplate& BaudPortTemplate() {
  static const DialogTemplate t = MakeDialog(kBaudPortTemplateId, 177, 47,
                                             {
                                                 Button(1, "OK", 120, 7, 50, 14, true),
                                                 Button(2, "Cancel", 120, 24, 50, 14),
                                                 Label("&COM Port:", 8, 9, 37, 8),
                                                 List(IDC_PORT, 55, 7, 48, 81),
                                                 Label("&Baud Rate:", 8, 25, 37, 8),
                                                 List(IDC_BAUD, 55, 23, 48, 81),
                                             });
  return t;
}

const DialogTemplate& PortOnlyTemplate() {
  static const DialogTemplate t = MakeDialog(kPortOnlyTemplateId, 177, 47,
                                             {
                                                 Label("&COM Port:", 14, 16, 37, 8),
                                                 List(IDC_PORT, 56, 14, 48, 81),
                                                 Button(1, "OK", 120, 7, 50, 14, true),
                                                 Button(2, "Cancel", 120, 25, 50, 14),
                                             });
  return t;
}

}  // namespace holm::dialogs
