#include "holm/progress/progress_dlg.h"

namespace holm {

const ui::DialogTemplate& ProgressTemplate() {
  static const ui::DialogTemplate tmpl = [] {
    ui::DialogTemplate t;
    t.id = kProgressTemplateId;
    t.caption = "Progress Indicator";
    t.width = 250;
    t.height = 70;
    t.fontName = "MS Sans Serif";
    t.fontSize = 8;
    // Caption and modal frame, centred, no system menu, hidden at creation.
    t.style = ui::kStyleCaption | ui::kStyleModalFrame | ui::kStyleCentered;
    using ui::ControlKind;
    ui::ControlTemplate bar =
        ui::MakeControl(kProgressBarId, ControlKind::kProgressBar, "", {20, 28, 210, 14});
    bar.bordered = true;
    ui::ControlTemplate ok =
        ui::MakeControl(ui::kIdOk, ControlKind::kPushButton, "OK", {195, 50, 50, 14});
    ok.defaultButton = true;
    ok.hidden = true;
    ui::ControlTemplate cancel =
        ui::MakeControl(ui::kIdCancel, ControlKind::kPushButton, "Cancel", {100, 50, 50, 14});
    cancel.hidden = true;
    t.controls = {ui::MakeControl(kProgressTextId, ControlKind::kLabel, "Performing operation",
                                  {7, 7, 238, 14}),
                  bar, ok, cancel};
    return t;
  }();
  return tmpl;
}

CProgressDlg::CProgressDlg() : window_(ui::CreateModeless(ProgressTemplate())) {
  window_->SetRange(kProgressBarId, 0, 1);
  window_->SetPos(kProgressBarId, 0);
}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::SetCaption(const std::string& caption) {
  window_->SetCaption(caption);
}
void CProgressDlg::SetText(const std::string& text) {
  window_->SetText(kProgressTextId, text);
}
void CProgressDlg::SetRange(int lo, int hi) {
  window_->SetRange(kProgressBarId, lo, hi);
}
void CProgressDlg::SetPos(int pos) {
  window_->SetPos(kProgressBarId, pos);
}
void CProgressDlg::Show() {
  window_->Show();
}
void CProgressDlg::Hide() {
  window_->Hide();
}

}  // namespace holm
