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
    ui::ControlTemplate text;
    text.id = kProgressTextId;
    text.kind = ui::ControlKind::kLabel;
    text.text = "Performing operation";
    text.rect = {7, 7, 238, 14};
    ui::ControlTemplate bar;
    bar.id = kProgressBarId;
    bar.kind = ui::ControlKind::kProgressBar;
    bar.rect = {20, 28, 210, 14};
    bar.bordered = true;
    ui::ControlTemplate ok;
    ok.id = ui::kIdOk;
    ok.kind = ui::ControlKind::kPushButton;
    ok.text = "OK";
    ok.rect = {195, 50, 50, 14};
    ok.defaultButton = true;
    ok.hidden = true;
    ui::ControlTemplate cancel;
    cancel.id = ui::kIdCancel;
    cancel.kind = ui::ControlKind::kPushButton;
    cancel.text = "Cancel";
    cancel.rect = {100, 50, 50, 14};
    cancel.hidden = true;
    t.controls = {text, bar, ok, cancel};
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
