// The terminal backend: dialogs drawn with ncurses (wide) on the process's
// controlling terminal. The library lives inside someone else's process, so:
//   - it opens /dev/tty itself and never writes to the client's stdout;
//   - ncurses installs handlers for SIGINT, SIGTSTP, SIGWINCH and SIGTERM and
//     does not put the old ones back, so every use saves the client's
//     handlers first and restores them afterwards;
//   - a client that uses ncurses itself keeps its current screen;
//   - when nothing is shown any more, the terminal session ends (endwin) and
//     the terminal is left as it was: ncurses draws on the terminal's
//     alternate screen where it has one, so the lines printed before come
//     back untouched when the last window is hidden or the dialog closes.
// A process without a usable terminal (no /dev/tty, not in the terminal's
// foreground process group, unknown terminal type) shows nothing: modal
// dialogs fail to open and modeless windows stay invisible.
//
// Layout: 4 horizontal and 8 vertical dialog units make one character cell;
// the dialog is framed, with its caption in the top border, and centred.
#include <curses.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "holm/ui/backends.h"
#include "holm/ui/modal_keys.h"
#include "holm/ui/ui.h"

namespace holm::ui {
namespace {

// Saves the handlers ncurses may replace and restores them on scope exit.
class SignalGuard {
 public:
  SignalGuard() {
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], nullptr, &saved_[i]);
  }
  ~SignalGuard() {
    for (size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTSTP, SIGWINCH, SIGTERM};
  static constexpr size_t kCount = sizeof(kSignals) / sizeof(kSignals[0]);
  struct sigaction saved_[kCount];
};

int CellX(int du) {
  return (du + 2) / 4;
}
int CellY(int du) {
  return (du + 4) / 8;
}

// Narrow text in the locale's character set to wide characters.
std::wstring Widen(const std::string& text) {
  std::wstring out;
  std::mbstate_t st{};
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    wchar_t wc = 0;
    size_t n = std::mbrtowc(&wc, p, left, &st);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      out.push_back(L'?');
      st = std::mbstate_t{};
      n = 1;
    } else if (n == 0) {
      break;
    }
    if (wc != 0) out.push_back(wc);
    p += n;
    left -= n;
  }
  return out;
}

class TerminalBackend : public Backend {
 public:
  // A window still shown when the process ends: the terminal is given back.
  ~TerminalBackend() override {
    SignalGuard guard;
    Close();
  }
  const char* Name() const override { return "terminal"; }
  int RunModal(Dialog& dlg, const ModalHandlers& handlers) override;
  std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow& window) override;

  // Modeless windows.
  void ShowWindow(const ModelessWindow* w);
  void HideWindow(const ModelessWindow* w);
  void RepaintWindow(const ModelessWindow* w);

 private:
  bool Open();          // starts a session on the terminal (true when there is one)
  void Close();         // ends it and leaves the terminal as it was
  void CloseOrPaint();  // ends the session when nothing is shown any more
  void Paint();         // draws everything shown, changes reach the terminal at once
  void DrawDialog(const Dialog& d, int focused);

  int fd_ = -1;
  FILE* stream_ = nullptr;
  SCREEN* screen_ = nullptr;
  std::vector<const ModelessWindow*> visible_;
  const Dialog* modal_ = nullptr;
  const ModalNavigator* nav_ = nullptr;
};

class TerminalWindow : public WindowImpl {
 public:
  TerminalWindow(TerminalBackend& backend, const ModelessWindow& window)
      : backend_(backend), window_(window) {}
  ~TerminalWindow() override { backend_.HideWindow(&window_); }
  void Show() override { backend_.ShowWindow(&window_); }
  void Hide() override { backend_.HideWindow(&window_); }
  void Repaint(int) override { backend_.RepaintWindow(&window_); }

 private:
  TerminalBackend& backend_;
  const ModelessWindow& window_;
};

// Switches ncurses to our screen for a scope and back to the client's.
class ScreenScope {
 public:
  explicit ScreenScope(SCREEN* ours) : ours_(ours), previous_(set_term(ours)) {}
  ~ScreenScope() {
    if (previous_ != nullptr) set_term(previous_);
  }
  // The client's screen, null when it has none.
  SCREEN* Previous() const { return previous_ == ours_ ? nullptr : previous_; }
  ScreenScope(const ScreenScope&) = delete;
  ScreenScope& operator=(const ScreenScope&) = delete;

 private:
  SCREEN* ours_;
  SCREEN* previous_;
};

bool TerminalBackend::Open() {
  if (screen_ != nullptr) return tcgetpgrp(fd_) == getpgrp();  // kept from an earlier use
  int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  // Only the foreground job may use the terminal: a background process would
  // be stopped (SIGTTOU) when it sets the terminal's modes.
  if (!isatty(fd) || tcgetpgrp(fd) != getpgrp()) {
    ::close(fd);
    return false;
  }
  FILE* stream = fdopen(fd, "r+");
  if (stream == nullptr) {
    ::close(fd);
    return false;
  }
  SCREEN* previous = set_term(nullptr);
  if (previous != nullptr) set_term(previous);
  SCREEN* screen = newterm(nullptr, stream, stream);
  if (screen == nullptr) {
    if (previous != nullptr) set_term(previous);
    fclose(stream);
    return false;
  }
  // A terminal that cannot place the cursor (TERM=dumb, a printer) cannot
  // show a dialog either.
  const char* cup = tigetstr(const_cast<char*>("cup"));
  if (cup == nullptr || cup == reinterpret_cast<char*>(-1)) {
    endwin();
    delscreen(screen);
    if (previous != nullptr) set_term(previous);
    fclose(stream);
    return false;
  }
  fd_ = fd;
  stream_ = stream;
  screen_ = screen;
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(50);
  curs_set(0);
  if (previous != nullptr) set_term(previous);
  return true;
}

void TerminalBackend::Close() {
  if (screen_ == nullptr) return;
  SCREEN* client = nullptr;
  {
    ScreenScope scope(screen_);
    client = scope.Previous();
    erase();
    refresh();
    endwin();
  }
  // Deleting a screen also frees the windows of the other screens in this
  // ncurses, so with a client screen present ours stays (ended) and is
  // taken up again by the next use.
  if (client != nullptr) return;
  set_term(screen_);
  delscreen(screen_);
  screen_ = nullptr;
  fclose(stream_);
  stream_ = nullptr;
  fd_ = -1;
}

void TerminalBackend::CloseOrPaint() {
  if (visible_.empty() && modal_ == nullptr)
    Close();
  else
    Paint();
}

// Text from cell (y, x) up to column maxX (exclusive); with `mnemonic`, "&x"
// underlines x and "&&" shows one "&".
void Put(int y, int x, int maxX, const std::string& text, attr_t attr, bool mnemonic) {
  if (y < 0 || y >= LINES) return;
  std::wstring w = Widen(text);
  bool underline = false;
  for (size_t i = 0; i < w.size() && x < maxX && x < COLS; ++i) {
    wchar_t wc = w[i];
    if (mnemonic && wc == L'&') {
      if (i + 1 < w.size() && w[i + 1] == L'&') {
        ++i;
      } else {
        underline = true;
        continue;
      }
    }
    int width = wcwidth(wc);
    if (width < 0) {
      wc = L'?';
      width = 1;
    }
    if (width == 0) continue;
    if (x + width > maxX) break;
    if (x >= 0) {
      attr_t a = attr | (underline ? A_UNDERLINE : A_NORMAL);
      attron(a);
      mvaddnwstr(y, x, &wc, 1);
      attroff(a);
    }
    underline = false;
    x += width;
  }
}

// How far a label's or radio button's text may run on the terminal: past its
// own rectangle (whose width in cells is often a little short of the text)
// up to the next control to its right on the same row, the right border of
// a group box around it, or the dialog's frame.
int TextLimit(const Dialog& d, size_t self, int ox, int oy, int y, int x, int frameRight) {
  int limit = frameRight;
  const auto& controls = d.Controls();
  for (size_t j = 0; j < controls.size(); ++j) {
    const ControlState& c = controls[j];
    if (j == self || !c.visible) continue;
    const DlgRect& r = c.tmpl->rect;
    const int cx = ox + CellX(r.left);
    const int cy = oy + CellY(r.top);
    const int rows = std::max(1, CellY(r.height));
    if (y < cy || y >= cy + rows) continue;
    if (c.tmpl->kind == ControlKind::kGroupBox) {
      const int gx2 = cx + std::max(1, CellX(r.width)) - 1;
      if (cx < x && gx2 >= x)
        limit = std::min(limit, gx2);  // the group's right border
      else if (cx > x)
        limit = std::min(limit, cx - 1);
    } else if (cx > x) {
      limit = std::min(limit, cx - 1);  // keep one blank before the next control
    }
  }
  return limit;
}

// A box drawn with line characters from (y1, x1) to (y2, x2), corners
// included.
void DrawBox(int y1, int x1, int y2, int x2) {
  mvhline(y1, x1 + 1, ACS_HLINE, x2 - x1 - 1);
  mvhline(y2, x1 + 1, ACS_HLINE, x2 - x1 - 1);
  mvvline(y1 + 1, x1, ACS_VLINE, y2 - y1 - 1);
  mvvline(y1 + 1, x2, ACS_VLINE, y2 - y1 - 1);
  mvaddch(y1, x1, ACS_ULCORNER);
  mvaddch(y1, x2, ACS_URCORNER);
  mvaddch(y2, x1, ACS_LLCORNER);
  mvaddch(y2, x2, ACS_LRCORNER);
}

// Where a dialog stands on the terminal, in cells.
struct Frame {
  int top, left;
  int right;   // one past the frame
  int bottom;  // one past the frame
  int ox, oy;  // the inside's top left corner
};

// Where one control stands and how it is drawn.
struct Cell {
  int x, y;
  int cw;    // width in cells, at least 1
  int maxX;  // one past its last cell inside the frame
  attr_t focusAttr;
};

// The frame centred on the terminal, with the caption in the top border and
// the inside cleared. A terminal smaller than the dialog gets the part that
// fits, framed.
Frame DrawFrame(const Dialog& d) {
  const DialogTemplate& t = d.Template();
  const int w = std::min(CellX(t.width + 2) + 2, COLS);
  const int h = std::min(CellY(t.height + 4) + 2, LINES);
  Frame f;
  f.top = std::max(0, (LINES - h) / 2);
  f.left = std::max(0, (COLS - w) / 2);
  f.right = f.left + w;
  f.bottom = f.top + h;
  f.ox = f.left + 1;
  f.oy = f.top + 1;
  for (int y = f.top; y < f.bottom && y < LINES; ++y) {
    move(y, f.left);
    for (int x = f.left; x < f.right && x < COLS; ++x) addch(' ');
  }
  DrawBox(f.top, f.left, f.bottom - 1, f.right - 1);
  if (!d.Caption().empty())
    Put(f.top, f.left + 2, f.right - 2, " " + d.Caption() + " ", A_BOLD, false);
  return f;
}

void DrawGroupBox(const ControlState& c, const Frame& f, const Cell& at) {
  const int ch = std::max(2, CellY(c.tmpl->rect.height));
  const int gx2 = std::min(at.x + at.cw - 1, f.right - 2);
  const int gy2 = std::min(at.y + ch - 1, f.bottom - 2);
  if (gx2 > at.x && gy2 > at.y) DrawBox(at.y, at.x, gy2, gx2);
  Put(at.y, at.x + 1, gx2, c.text, A_NORMAL, true);
}

// [  OK  ] or, for the default button, <  OK  >, the label centred.
void DrawPushButton(const ControlState& c, const Cell& at) {
  const bool isDefault = c.tmpl->defaultButton;
  std::string label = StripMnemonic(c.text);
  const int inner = std::max(0, at.cw - 2);
  const int pad = std::max(0, (inner - static_cast<int>(label.size())) / 2);
  std::string shown = isDefault ? "<" : "[";
  shown += std::string(static_cast<size_t>(pad), ' ') + c.text;
  int used = pad + static_cast<int>(label.size());
  if (used < inner) shown += std::string(static_cast<size_t>(inner - used), ' ');
  shown += isDefault ? ">" : "]";
  Put(at.y, at.x, at.maxX, shown, at.focusAttr | (isDefault ? A_BOLD : A_NORMAL), true);
}

// [selected item   v]
void DrawDropDownList(const ControlState& c, const Cell& at) {
  std::string sel = c.selected >= 0 ? c.items[static_cast<size_t>(c.selected)] : "";
  const int inner = std::max(0, at.cw - 4);
  std::wstring ws = Widen(sel);
  if (static_cast<int>(ws.size()) > inner) sel = sel.substr(0, static_cast<size_t>(inner));
  std::string shown = "[" + sel;
  int len = static_cast<int>(std::min<size_t>(ws.size(), static_cast<size_t>(inner)));
  shown += std::string(static_cast<size_t>(std::max(0, inner - len)), ' ');
  shown += " v]";
  Put(at.y, at.x, at.maxX, shown, at.focusAttr, false);
}

// [#####.....] 45%  The percentage is the position within the range.
void DrawProgressBar(const ControlState& c, const Frame& f, const Cell& at) {
  const int span = c.rangeMax - c.rangeMin;
  const int done = c.pos - c.rangeMin;
  // The bar shrinks to leave room for the percentage on a narrow terminal.
  const int barW = std::max(1, std::min(at.cw - 2, f.right - 1 - at.x - 7));
  int filled = span > 0 ? static_cast<int>(static_cast<long long>(done) * barW / span) : 0;
  int percent = span > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / span) : 0;
  filled = std::clamp(filled, 0, barW);
  percent = std::clamp(percent, 0, 100);
  std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(barW - filled), '.') + "]";
  Put(at.y, at.x, f.right - 1, bar, A_NORMAL, false);
  char pct[8];
  std::snprintf(pct, sizeof pct, "%3d%%", percent);
  Put(at.y, at.x + barW + 2, f.right - 1, pct, A_NORMAL, false);
}

// Control `i` of the dialog; a label's and a radio button's text may run on
// past its rectangle (TextLimit).
void DrawControl(const Dialog& d, size_t i, const Frame& f, const Cell& at) {
  const ControlState& c = d.Controls()[i];
  auto textLimit = [&] {
    return std::max(at.maxX, TextLimit(d, i, f.ox, f.oy, at.y, at.x, f.right - 1));
  };
  switch (c.tmpl->kind) {
    case ControlKind::kLabel:
      Put(at.y, at.x, textLimit(), c.text, A_NORMAL, true);
      break;
    case ControlKind::kGroupBox:
      DrawGroupBox(c, f, at);
      break;
    case ControlKind::kRadioButton:
      Put(at.y, at.x, at.maxX, c.checked ? "(*)" : "( )", at.focusAttr, false);
      Put(at.y, at.x + 4, textLimit(), c.text, A_NORMAL, true);
      break;
    case ControlKind::kPushButton:
      DrawPushButton(c, at);
      break;
    case ControlKind::kDropDownList:
      DrawDropDownList(c, at);
      break;
    case ControlKind::kProgressBar:
      DrawProgressBar(c, f, at);
      break;
  }
}

void TerminalBackend::DrawDialog(const Dialog& d, int focused) {
  const Frame f = DrawFrame(d);
  const auto& controls = d.Controls();
  for (size_t i = 0; i < controls.size(); ++i) {
    if (!controls[i].visible) continue;
    const DlgRect& r = controls[i].tmpl->rect;
    Cell at;
    at.x = f.ox + CellX(r.left);
    at.y = f.oy + CellY(r.top);
    if (at.y >= f.bottom - 1) continue;  // below a frame cut short by the terminal
    at.cw = std::max(1, CellX(r.width));
    at.maxX = std::min(at.x + at.cw, f.right - 1);
    at.focusAttr = static_cast<int>(i) == focused ? A_REVERSE : A_NORMAL;
    DrawControl(d, i, f, at);
  }
}

void TerminalBackend::Paint() {
  ScreenScope scope(screen_);
  // Follow a resized terminal (the client's SIGWINCH handler is in place
  // between our calls, so ncurses is not told).
  struct winsize ws {};
  if (ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
      (ws.ws_row != LINES || ws.ws_col != COLS))
    resizeterm(ws.ws_row, ws.ws_col);
  erase();
  for (const ModelessWindow* w : visible_) DrawDialog(w->Model(), -1);
  if (modal_ != nullptr) DrawDialog(*modal_, nav_ ? nav_->Focused() : -1);
  refresh();
}

void TerminalBackend::ShowWindow(const ModelessWindow* w) {
  SignalGuard guard;
  if (std::find(visible_.begin(), visible_.end(), w) == visible_.end()) {
    if (!Open()) return;  // no terminal: the window stays invisible
    visible_.push_back(w);
  }
  Paint();
}

void TerminalBackend::HideWindow(const ModelessWindow* w) {
  auto it = std::find(visible_.begin(), visible_.end(), w);
  if (it == visible_.end()) return;
  SignalGuard guard;
  visible_.erase(it);
  CloseOrPaint();
}

void TerminalBackend::RepaintWindow(const ModelessWindow* w) {
  if (std::find(visible_.begin(), visible_.end(), w) == visible_.end()) return;
  SignalGuard guard;
  Paint();
}

Key ToKey(int ch) {
  switch (ch) {
    case '\t':
      return Key::kTab;
    case KEY_BTAB:
      return Key::kBackTab;
    case KEY_UP:
      return Key::kUp;
    case KEY_DOWN:
      return Key::kDown;
    case KEY_LEFT:
      return Key::kLeft;
    case KEY_RIGHT:
      return Key::kRight;
    case ' ':
      return Key::kSpace;
    case '\r':
    case '\n':
    case KEY_ENTER:
      return Key::kEnter;
    case 27:
      return Key::kEscape;
    default:
      return Key::kOther;
  }
}

int TerminalBackend::RunModal(Dialog& dlg, const ModalHandlers& handlers) {
  if (modal_ != nullptr) return kCannotOpen;  // one modal dialog at a time
  SignalGuard guard;
  if (!Open()) return kCannotOpen;
  // Whatever way the dialog ends (also by an exception from the dialog
  // logic), the terminal is given back.
  struct EndModal {
    TerminalBackend& self;
    ~EndModal() {
      self.modal_ = nullptr;
      self.nav_ = nullptr;
      self.CloseOrPaint();
    }
  } end{*this};
  if (handlers.onInit) handlers.onInit(dlg);
  ModalNavigator nav(dlg);
  modal_ = &dlg;
  nav_ = &nav;
  int errors = 0;
  for (;;) {
    Paint();
    int ch;
    {
      ScreenScope scope(screen_);
      errno = 0;
      ch = getch();
    }
    if (ch == ERR) {
      // A signal of the client's interrupted the wait: wait again. Anything
      // else (the terminal hung up) means the user cannot answer.
      if (errno == EINTR && ++errors < 1000) continue;
      return kIdCancel;
    }
    if (ch == KEY_RESIZE) continue;
    const int pressed = nav.Handle(ToKey(ch));
    if (pressed == kIdCancel) return kIdCancel;
    if (pressed == kIdOk && (!handlers.onOk || handlers.onOk(dlg))) return kIdOk;
  }
}

std::unique_ptr<WindowImpl> TerminalBackend::CreateWindowImpl(const ModelessWindow& window) {
  return std::make_unique<TerminalWindow>(*this, window);
}

}  // namespace

Backend* TerminalBackendInstance() {
  static TerminalBackend terminal;
  return &terminal;
}

}  // namespace holm::ui
