// The Win32 backend: real dialogs, built in memory from the template data
// (DLGTEMPLATE + DLGITEMTEMPLATE records) and created with
// DialogBoxIndirectParamW (modal) or CreateDialogIndirectParamW (modeless).
// No owner window is passed, so a modal dialog gets the platform's default
// owner and a modeless window is a top-level window of its own. Texts are
// narrow in the system code page (CP_ACP) and converted for the wide API.
#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>

#include <string>
#include <vector>

#include "holm/ui/backends.h"
#include "holm/ui/ui.h"

namespace holm::ui {
namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

void EnsureCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX icc{};
    icc.dwSize = sizeof icc;
    icc.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)done;
}

// The in-memory dialog template, as the dialog manager reads it: WORD
// aligned records, each item DWORD aligned.
class TemplateBuilder {
 public:
  explicit TemplateBuilder(const DialogTemplate& t) {
    DWORD style = DS_SETFONT | WS_POPUP;
    if (t.style & kStyleCaption) style |= WS_CAPTION;
    if (t.style & kStyleModalFrame) style |= DS_MODALFRAME;
    if (t.style & kStyleSystemMenu) style |= WS_SYSMENU;
    if (t.style & kStyleCentered) style |= DS_CENTER;
    if (t.style & kStyleVisible) style |= WS_VISIBLE;
    Dword(style);
    Dword(0);  // extended style
    Word(static_cast<WORD>(t.controls.size()));
    Word(0);  // x
    Word(0);  // y
    Word(static_cast<WORD>(t.width));
    Word(static_cast<WORD>(t.height));
    Word(0);  // no menu
    Word(0);  // the standard dialog class
    Str(Wide(t.caption));
    Word(static_cast<WORD>(t.fontSize));
    Str(Wide(t.fontName));
    for (const ControlTemplate& c : t.controls) Item(c);
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void Str(const std::wstring& s) {
    for (wchar_t c : s) Word(static_cast<WORD>(c));
    Word(0);
  }
  void Align() {
    if (words_.size() % 2) Word(0);
  }
  void Item(const ControlTemplate& c) {
    Align();
    DWORD style = WS_CHILD;
    if (!c.hidden) style |= WS_VISIBLE;
    WORD atom = 0;
    const wchar_t* className = nullptr;
    switch (c.kind) {
      case ControlKind::kLabel:
        style |= SS_LEFT | WS_GROUP;
        atom = 0x0082;
        break;
      case ControlKind::kDropDownList:
        style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_GROUP;
        atom = 0x0085;
        break;
      case ControlKind::kGroupBox:
        style |= BS_GROUPBOX | WS_GROUP;
        atom = 0x0080;
        break;
      case ControlKind::kRadioButton:
        style |= BS_AUTORADIOBUTTON;
        if (c.firstOfGroup) style |= WS_GROUP | WS_TABSTOP;
        atom = 0x0080;
        break;
      case ControlKind::kPushButton:
        style |= (c.defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | WS_TABSTOP | WS_GROUP;
        atom = 0x0080;
        break;
      case ControlKind::kProgressBar:
        if (c.bordered) style |= WS_BORDER;
        style |= WS_GROUP;
        className = PROGRESS_CLASSW;
        break;
    }
    Dword(style);
    Dword(0);
    Word(static_cast<WORD>(c.rect.left));
    Word(static_cast<WORD>(c.rect.top));
    Word(static_cast<WORD>(c.rect.width));
    Word(static_cast<WORD>(c.rect.height));
    Word(static_cast<WORD>(c.id));
    if (className != nullptr) {
      Str(className);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Str(Wide(c.text));
    Word(0);  // no creation data
  }

  std::vector<WORD> words_;
};

// Brings one control of hwnd up to the model's state.
void PushControl(HWND dlg, const ControlState& c) {
  HWND ctl = GetDlgItem(dlg, c.tmpl->id);
  if (ctl == nullptr) return;
  switch (c.tmpl->kind) {
    case ControlKind::kDropDownList: {
      SendMessageW(ctl, CB_RESETCONTENT, 0, 0);
      for (const std::string& item : c.items)
        SendMessageW(ctl, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
      SendMessageW(ctl, CB_SETCURSEL, static_cast<WPARAM>(c.selected), 0);
      break;
    }
    case ControlKind::kRadioButton:
      SendMessageW(ctl, BM_SETCHECK, c.checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ControlKind::kProgressBar:
      // The control takes 16-bit bounds.
      SendMessageW(ctl, PBM_SETRANGE, 0,
                   MAKELPARAM(static_cast<WORD>(c.rangeMin), static_cast<WORD>(c.rangeMax)));
      SendMessageW(ctl, PBM_SETPOS, static_cast<WPARAM>(c.pos), 0);
      break;
    default:
      SetWindowTextW(ctl, Wide(c.text).c_str());
      break;
  }
  ShowWindow(ctl, c.visible ? SW_SHOWNA : SW_HIDE);
}

void PushAll(HWND dlg, const Dialog& model) {
  SetWindowTextW(dlg, Wide(model.Caption()).c_str());
  for (const ControlState& c : model.Controls())
    if (c.tmpl->id != kStaticId) PushControl(dlg, c);
}

// Reads the user's choices back into the model.
void PullAll(HWND dlg, Dialog& model) {
  for (ControlState& c : model.Controls()) {
    if (c.tmpl->id == kStaticId) continue;
    HWND ctl = GetDlgItem(dlg, c.tmpl->id);
    if (ctl == nullptr) continue;
    if (c.tmpl->kind == ControlKind::kDropDownList) {
      LRESULT sel = SendMessageW(ctl, CB_GETCURSEL, 0, 0);
      c.selected = (sel == CB_ERR || sel >= static_cast<LRESULT>(c.items.size()))
                       ? -1
                       : static_cast<int>(sel);
    } else if (c.tmpl->kind == ControlKind::kRadioButton) {
      c.checked = SendMessageW(ctl, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
  }
}

struct ModalContext {
  Dialog* model;
  const ModalHandlers* handlers;
};

INT_PTR CALLBACK ModalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_INITDIALOG: {
      auto* ctx = reinterpret_cast<ModalContext*>(lParam);
      SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
      if (ctx->handlers->onInit) ctx->handlers->onInit(*ctx->model);
      PushAll(hwnd, *ctx->model);
      return TRUE;
    }
    case WM_COMMAND: {
      auto* ctx = reinterpret_cast<ModalContext*>(GetWindowLongPtrW(hwnd, DWLP_USER));
      const WORD id = LOWORD(wParam);
      if (ctx == nullptr || (id != IDOK && id != IDCANCEL)) return FALSE;
      PullAll(hwnd, *ctx->model);
      if (id == IDOK && ctx->handlers->onOk && !ctx->handlers->onOk(*ctx->model)) {
        PushAll(hwnd, *ctx->model);
        return TRUE;
      }
      EndDialog(hwnd, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK ModelessProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
  // The window has no cancel path: Enter and Escape do nothing.
  if (msg == WM_INITDIALOG) return TRUE;
  if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) return TRUE;
  return FALSE;
}

class Win32Window : public WindowImpl {
 public:
  explicit Win32Window(const ModelessWindow& window) : window_(window) {
    EnsureCommonControls();
    TemplateBuilder tmpl(window.Model().Template());
    hwnd_ = CreateDialogIndirectParamW(ThisModule(), tmpl.Get(), nullptr, &ModelessProc, 0);
    if (hwnd_ != nullptr) PushAll(hwnd_, window.Model());
  }
  ~Win32Window() override {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  }
  void Show() override {
    if (hwnd_ == nullptr) return;
    ShowWindow(hwnd_, SW_SHOW);
    InvalidateRect(hwnd_, nullptr, TRUE);
    UpdateWindow(hwnd_);
  }
  void Hide() override {
    if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_HIDE);
  }
  void Repaint(int part) override {
    if (hwnd_ == nullptr) return;
    const Dialog& model = window_.Model();
    if (part == kCaptionPart) {
      SetWindowTextW(hwnd_, Wide(model.Caption()).c_str());
      return;
    }
    const ControlState* c = model.Find(part);
    if (c == nullptr) return;
    PushControl(hwnd_, *c);
    // Synchronous repaint: the caller runs no message loop.
    if (HWND ctl = GetDlgItem(hwnd_, part)) {
      InvalidateRect(ctl, nullptr, TRUE);
      UpdateWindow(ctl);
    }
  }

 private:
  const ModelessWindow& window_;
  HWND hwnd_ = nullptr;
};

class Win32Backend : public Backend {
 public:
  const char* Name() const override { return "win32"; }
  int RunModal(Dialog& dlg, const ModalHandlers& handlers) override {
    EnsureCommonControls();
    TemplateBuilder tmpl(dlg.Template());
    ModalContext ctx{&dlg, &handlers};
    INT_PTR r = DialogBoxIndirectParamW(ThisModule(), tmpl.Get(), nullptr, &ModalProc,
                                        reinterpret_cast<LPARAM>(&ctx));
    if (r == IDOK) return kIdOk;
    if (r == -1 || r == 0) return kCannotOpen;
    return kIdCancel;
  }
  std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow& window) override {
    return std::make_unique<Win32Window>(window);
  }
};

}  // namespace

Backend* PlatformBackend(const std::string& name) {
  if (name == "win32") {
    static Win32Backend win32;
    return &win32;
  }
  return nullptr;
}

const char* PlatformDefaultBackendName() {
  return "win32";
}

}  // namespace holm::ui
