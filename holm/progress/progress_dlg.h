// CProgressDlg: the progress window, built from dialog template 130 and
// created modeless and hidden. Every change repaints the changed control at
// once, since the caller runs its operation without a message loop.
#ifndef HOLM_PROGRESS_PROGRESS_DLG_H
#define HOLM_PROGRESS_PROGRESS_DLG_H

#include <memory>
#include <string>

#include "holm/ui/ui.h"

namespace holm {

// Template 130 and its controls.
inline constexpr int kProgressTemplateId = 130;
inline constexpr int kProgressTextId = 1000;
inline constexpr int kProgressBarId = 1001;
const ui::DialogTemplate& ProgressTemplate();

class CProgressDlg {
 public:
  // Creates the window, hidden, on the current UI backend: caption
  // "Progress Indicator", text "Performing operation", bar range 0 ... 1 at 0.
  CProgressDlg();
  ~CProgressDlg();
  CProgressDlg(const CProgressDlg&) = delete;
  CProgressDlg& operator=(const CProgressDlg&) = delete;

  void SetCaption(const std::string& caption);
  void SetText(const std::string& text);
  // Bounds go to the control as it takes them (low 16 bits).
  void SetRange(int lo, int hi);
  void SetPos(int pos);
  void Show();
  void Hide();

  const ui::ModelessWindow& Window() const { return *window_; }

 private:
  std::unique_ptr<ui::ModelessWindow> window_;
};

}  // namespace holm

#endif  // HOLM_PROGRESS_PROGRESS_DLG_H
