// The UI layer: dialog model, keyboard navigation, headless backend, backend
// choice and the terminal backend without a terminal.
#include "holm/ui/ui.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "holm/ui/backends.h"
#include "holm/ui/desktop_protocol.h"
#include "holm/ui/headless.h"
#include "holm/ui/modal_keys.h"

namespace holm::ui {
namespace {

// A settings-like dialog: two lists, two radio groups separated by a group
// box, OK (default) and Cancel, and a hidden button.
DialogTemplate SettingsTemplate() {
  DialogTemplate t;
  t.id = 900;
  t.caption = "Test Setup";
  t.width = 207;
  t.height = 110;
  t.style = kStyleCaption | kStyleModalFrame | kStyleSystemMenu | kStyleCentered;
  t.controls.push_back(MakeControl(kStaticId, ControlKind::kLabel, "&Port:", {7, 9, 37, 8}));
  t.controls.push_back(MakeControl(10, ControlKind::kDropDownList, "", {59, 7, 48, 81}));
  t.controls.push_back(MakeControl(11, ControlKind::kDropDownList, "", {59, 23, 48, 81}));
  t.controls.push_back(MakeControl(kStaticId, ControlKind::kGroupBox, "&Parity", {7, 48, 50, 54}));
  t.controls.push_back(MakeControl(20, ControlKind::kRadioButton, "No", {12, 59, 36, 13}));
  t.controls.back().firstOfGroup = true;
  t.controls.push_back(MakeControl(22, ControlKind::kRadioButton, "Odd", {12, 72, 36, 13}));
  t.controls.push_back(MakeControl(21, ControlKind::kRadioButton, "Even", {12, 85, 36, 13}));
  t.controls.push_back(MakeControl(kStaticId, ControlKind::kGroupBox, "&Data", {73, 48, 50, 54}));
  t.controls.push_back(MakeControl(30, ControlKind::kRadioButton, "7 bit", {82, 63, 33, 12}));
  t.controls.back().firstOfGroup = true;
  t.controls.push_back(MakeControl(31, ControlKind::kRadioButton, "8 bit", {82, 78, 35, 12}));
  t.controls.push_back(MakeControl(kIdOk, ControlKind::kPushButton, "OK", {150, 7, 50, 14}));
  t.controls.back().defaultButton = true;
  t.controls.push_back(
      MakeControl(kIdCancel, ControlKind::kPushButton, "Cancel", {150, 25, 50, 14}));
  t.controls.push_back(MakeControl(99, ControlKind::kPushButton, "Hidden", {150, 40, 50, 14}));
  t.controls.back().hidden = true;
  t.controls.push_back(MakeControl(40, ControlKind::kProgressBar, "", {20, 28, 210, 14}));
  return t;
}

void FillLists(Dialog& d) {
  for (const char* s : {"COM1", "COM2", "COM3"}) d.AddItem(10, s);
  for (const char* s : {"300", "1200", "9600", "19200"}) d.AddItem(11, s);
}

TEST(DialogModel, StartsFromTheTemplate) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  EXPECT_EQ(d.Caption(), "Test Setup");
  ASSERT_EQ(d.Controls().size(), t.controls.size());
  EXPECT_EQ(d.SelectedIndex(10), -1);
  EXPECT_EQ(d.SelectedText(10), "");
  EXPECT_FALSE(d.Visible(99));
  EXPECT_TRUE(d.Visible(kIdOk));
  EXPECT_EQ(d.CheckedIndex(20), -1);
  // Unknown ids and wrong kinds are ignored.
  d.SetText(12345, "x");
  d.AddItem(kIdOk, "not a list");
  d.SetChecked(10, true);
  EXPECT_EQ(d.Text(12345), "");
  EXPECT_FALSE(d.Checked(10));
  EXPECT_EQ(d.ItemCount(kIdOk), 0);
}

TEST(DialogModel, ListSelectionByPrefixWithoutRegardToCase) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  FillLists(d);
  EXPECT_EQ(d.SelectPrefix(10, "com2"), 1);
  EXPECT_EQ(d.SelectedText(10), "COM2");
  EXPECT_EQ(d.SelectPrefix(10, "COM"), 0);  // first item that begins with it
  EXPECT_EQ(d.SelectPrefix(11, "1"), 1);    // "1200", not "19200"
  EXPECT_EQ(d.SelectedText(11), "1200");
  // No match: the selection stays as it was.
  EXPECT_EQ(d.SelectPrefix(11, "38400"), -1);
  EXPECT_EQ(d.SelectedIndex(11), 1);
  d.SetSelectedIndex(11, 7);  // outside: nothing selected
  EXPECT_EQ(d.SelectedIndex(11), -1);
  EXPECT_EQ(d.SelectedText(11), "");
  d.ResetItems(10);
  EXPECT_EQ(d.ItemCount(10), 0);
  EXPECT_EQ(d.SelectedIndex(10), -1);
}

TEST(DialogModel, RadioGroupsAreAutomaticAndCountInTemplateOrder) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  EXPECT_EQ(d.Group(21), (std::vector<int>{20, 22, 21}));
  EXPECT_EQ(d.Group(31), (std::vector<int>{30, 31}));
  EXPECT_TRUE(d.Group(10).empty());
  d.CheckIndex(20, 2);  // third button: "Even", id 21
  EXPECT_TRUE(d.Checked(21));
  EXPECT_EQ(d.CheckedIndex(22), 2);
  d.SetChecked(22, true);  // checking one unchecks the rest of its group only
  EXPECT_FALSE(d.Checked(21));
  EXPECT_EQ(d.CheckedIndex(20), 1);
  d.CheckIndex(30, 1);
  EXPECT_EQ(d.CheckedIndex(20), 1);
  EXPECT_EQ(d.CheckedIndex(30), 1);
  d.CheckIndex(30, 5);  // outside the group: nothing checked
  EXPECT_EQ(d.CheckedIndex(30), -1);
}

TEST(DialogModel, ProgressBarTakesSixteenBitBoundsAndKeepsPositionInRange) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  d.SetRange(40, 0, 101);
  d.SetPos(40, 65);
  EXPECT_EQ(d.Pos(40), 65);
  d.SetRange(40, 0, 70001);  // low 16 bits: 4465
  EXPECT_EQ(d.RangeMax(40), 4465);
  d.SetPos(40, 70000);
  EXPECT_EQ(d.Pos(40), 4465);
  d.SetPos(40, -3);
  EXPECT_EQ(d.Pos(40), 0);
  d.SetRange(40, 0, -1);  // 0xFFFF
  EXPECT_EQ(d.RangeMax(40), 65535);
  d.SetPos(40, 500);
  d.SetRange(40, 0, 100);  // a narrower range pulls the position in
  EXPECT_EQ(d.Pos(40), 100);
}

TEST(DialogModel, MnemonicsAreStripped) {
  EXPECT_EQ(StripMnemonic("&COM Port:"), "COM Port:");
  EXPECT_EQ(StripMnemonic("A && B"), "A & B");
  EXPECT_EQ(StripMnemonic("end&"), "end");
}

int Id(const Dialog& d, const ModalNavigator& nav) {
  return nav.Focused() < 0 ? 0 : d.Controls()[static_cast<size_t>(nav.Focused())].tmpl->id;
}

TEST(ModalKeys, TabVisitsListsGroupsAndVisibleButtonsInOrder) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  FillLists(d);
  d.CheckIndex(20, 1);  // "Odd" checked: the group's stop lands on it
  ModalNavigator nav(d);
  std::vector<int> seen{Id(d, nav)};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(nav.Handle(Key::kTab), 0);
    seen.push_back(Id(d, nav));
  }
  // The hidden button is skipped and the order wraps around.
  EXPECT_EQ(seen, (std::vector<int>{10, 11, 22, 30, kIdOk, kIdCancel, 10}));
  nav.Handle(Key::kBackTab);
  EXPECT_EQ(Id(d, nav), kIdCancel);
  nav.Handle(Key::kBackTab);
  nav.Handle(Key::kBackTab);
  nav.Handle(Key::kBackTab);
  EXPECT_EQ(Id(d, nav), 22);
}

TEST(ModalKeys, ArrowsChangeListsAndRadioGroups) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  FillLists(d);
  ModalNavigator nav(d);
  ASSERT_EQ(Id(d, nav), 10);
  nav.Handle(Key::kDown);  // nothing selected: the first item
  EXPECT_EQ(d.SelectedIndex(10), 0);
  nav.Handle(Key::kDown);
  nav.Handle(Key::kDown);
  nav.Handle(Key::kDown);  // stops at the last item
  EXPECT_EQ(d.SelectedIndex(10), 2);
  nav.Handle(Key::kUp);
  EXPECT_EQ(d.SelectedText(10), "COM2");
  nav.Handle(Key::kTab);
  nav.Handle(Key::kTab);  // the parity group, nothing checked: its first button
  ASSERT_EQ(Id(d, nav), 20);
  nav.Handle(Key::kSpace);
  EXPECT_TRUE(d.Checked(20));
  nav.Handle(Key::kDown);
  EXPECT_EQ(Id(d, nav), 22);
  EXPECT_EQ(d.CheckedIndex(20), 1);
  nav.Handle(Key::kRight);
  nav.Handle(Key::kRight);  // wraps within the group
  EXPECT_EQ(d.CheckedIndex(20), 0);
  nav.Handle(Key::kLeft);
  EXPECT_EQ(d.CheckedIndex(20), 2);
  EXPECT_EQ(d.CheckedIndex(30), -1);  // other groups untouched
}

TEST(ModalKeys, EnterEscapeAndButtons) {
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  FillLists(d);
  ModalNavigator nav(d);
  EXPECT_EQ(nav.Handle(Key::kEnter), kIdOk);  // on a list: the default button
  EXPECT_EQ(nav.Handle(Key::kEscape), kIdCancel);
  EXPECT_EQ(nav.Handle(Key::kOther), 0);
  while (Id(d, nav) != kIdCancel) nav.Handle(Key::kTab);
  EXPECT_EQ(nav.Handle(Key::kEnter), kIdCancel);  // the focused button
  EXPECT_EQ(nav.Handle(Key::kSpace), kIdCancel);
  nav.Handle(Key::kBackTab);
  EXPECT_EQ(nav.Handle(Key::kSpace), kIdOk);
}

TEST(HeadlessBackend, ScriptedUserAndRecords) {
  HeadlessBackend ui;
  ScopedBackend use(ui);
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  ModalHandlers h;
  h.onInit = [](Dialog& dlg) {
    FillLists(dlg);
    dlg.SelectPrefix(10, "COM2");
  };
  int okCalls = 0;
  h.onOk = [&](Dialog& dlg) {
    ++okCalls;
    return dlg.SelectedIndex(11) >= 0;  // refuses until a rate is chosen
  };
  int asked = 0;
  ui.SetModalUser([&](Dialog& dlg) {
    if (++asked == 2) dlg.SetSelectedIndex(11, 2);
    return kIdOk;
  });
  EXPECT_EQ(RunModal(d, h), kIdOk);
  EXPECT_EQ(okCalls, 2);
  ASSERT_EQ(ui.ModalRuns().size(), 1u);
  const auto& rec = ui.ModalRuns()[0];
  EXPECT_EQ(rec.templateId, 900);
  EXPECT_EQ(rec.result, kIdOk);
  EXPECT_EQ(rec.opened[1].selected, 1);
  EXPECT_EQ(rec.opened[2].selected, -1);
  EXPECT_EQ(rec.closed[2].selected, 2);

  ui.SetModalUser([](Dialog&) { return kCannotOpen; });
  EXPECT_EQ(RunModal(d, h), kCannotOpen);
  ui.SetModalUser(nullptr);  // no user: cancelled at once
  EXPECT_EQ(RunModal(d, h), kIdCancel);
  EXPECT_EQ(ui.ModalRuns().size(), 3u);
}

TEST(HeadlessBackend, ModelessWindowsAreTrackedAndRepaintWhileVisible) {
  HeadlessBackend ui;
  ScopedBackend use(ui);
  DialogTemplate t = SettingsTemplate();
  {
    auto w = CreateModeless(t);
    ASSERT_EQ(ui.FindWindow(900), w.get());
    EXPECT_FALSE(w->IsVisible());
    w->SetText(kIdOk, "Go");  // hidden: state kept, nothing painted
    EXPECT_EQ(ui.RepaintCount(*w, kIdOk), 0);
    w->Show();
    EXPECT_EQ(ui.ShowCount(*w), 1);
    w->SetPos(40, 30);
    w->SetCaption("New");
    EXPECT_EQ(ui.RepaintCount(*w, 40), 1);
    EXPECT_EQ(ui.RepaintCount(*w, kCaptionPart), 1);
    EXPECT_EQ(w->Model().Text(kIdOk), "Go");
    EXPECT_EQ(w->Model().Caption(), "New");
    w->Hide();
    w->SetPos(40, 50);
    EXPECT_EQ(ui.RepaintCount(*w, 40), 1);
    EXPECT_EQ(w->Model().Pos(40), 50);
  }
  EXPECT_EQ(ui.FindWindow(900), nullptr);
  EXPECT_EQ(ui.WindowsCreated(), 1);
  EXPECT_EQ(ui.WindowsDestroyed(), 1);
}

// What the desktop backend sends its window helper: the template and the
// state come out of the lines as they went in, texts with blanks, '%',
// line ends and empty list items included.
TEST(DesktopProtocol, TemplateAndStateSurviveTheLines) {
  DialogTemplate t = SettingsTemplate();
  t.caption = "50% done\nnext = %41";
  t.controls[0].text = "&Port: ";
  t.controls.back().bordered = true;
  DialogTemplate back;
  std::string lines = desktop::TemplateMessages(t);
  size_t at = 0, read = 0;
  while (at < lines.size()) {
    const size_t eol = lines.find('\n', at);
    read += desktop::ReadTemplateLine(desktop::SplitLine(lines.substr(at, eol - at)), back);
    at = eol + 1;
  }
  EXPECT_EQ(read, t.controls.size() + 1);  // everything but "build"
  EXPECT_EQ(back.caption, t.caption);
  EXPECT_EQ(back.style, t.style);
  ASSERT_EQ(back.controls.size(), t.controls.size());
  for (size_t i = 0; i < t.controls.size(); ++i) {
    const ControlTemplate &a = t.controls[i], &b = back.controls[i];
    EXPECT_EQ(b.id, a.id);
    EXPECT_EQ(b.kind, a.kind);
    EXPECT_EQ(b.text, a.text);
    EXPECT_EQ(b.rect.left + b.rect.top * 1000, a.rect.left + a.rect.top * 1000);
    EXPECT_EQ(b.firstOfGroup + 2 * b.defaultButton + 4 * b.hidden + 8 * b.bordered,
              a.firstOfGroup + 2 * a.defaultButton + 4 * a.hidden + 8 * a.bordered);
  }

  Dialog sent(t), got(back);
  FillLists(sent);
  sent.AddItem(10, "");
  sent.SetSelectedIndex(10, 3);
  sent.CheckIndex(20, 2);
  sent.SetRange(40, 5, 300);
  sent.SetPos(40, 77);
  sent.SetVisible(kIdCancel, false);
  lines = desktop::AllStateMessages(sent);
  for (at = 0; at < lines.size();) {
    const size_t eol = lines.find('\n', at);
    EXPECT_TRUE(desktop::ApplyState(desktop::SplitLine(lines.substr(at, eol - at)), got));
    at = eol + 1;
  }
  EXPECT_EQ(got.Caption(), t.caption);
  EXPECT_EQ(got.ItemCount(10), 4);
  EXPECT_EQ(got.SelectedIndex(10), 3);
  EXPECT_EQ(got.SelectedText(10), "");
  EXPECT_EQ(got.CheckedIndex(20), 2);
  EXPECT_EQ(got.RangeMin(40) * 1000 + got.RangeMax(40), 5 * 1000 + 300);
  EXPECT_EQ(got.Pos(40), 77);
  EXPECT_FALSE(got.Visible(kIdCancel));

  // The choices a helper reports when the user closes a modal dialog.
  Dialog client(t);
  FillLists(client);
  client.AddItem(10, "");
  lines = desktop::ChoiceMessages(got);
  for (at = 0; at < lines.size();) {
    const size_t eol = lines.find('\n', at);
    EXPECT_TRUE(desktop::ApplyChoice(desktop::SplitLine(lines.substr(at, eol - at)), client));
    at = eol + 1;
  }
  EXPECT_EQ(client.SelectedIndex(10), 3);
  EXPECT_EQ(client.CheckedIndex(20), 2);
  EXPECT_EQ(client.CheckedIndex(30), -1);
}

TEST(BackendChoice, NamesInstallAndRestore) {
  ASSERT_NE(BackendByName("none"), nullptr);
  ASSERT_NE(BackendByName("headless"), nullptr);
  ASSERT_NE(BackendByName("terminal"), nullptr);
  EXPECT_STREQ(BackendByName("desktop")->Name(), "desktop");
  EXPECT_EQ(BackendByName("win32"), nullptr);  // not on POSIX
  EXPECT_EQ(BackendByName("bogus"), nullptr);
  EXPECT_STREQ(BackendByName("terminal")->Name(), "terminal");

  Backend* before = InstalledBackend();
  HeadlessBackend a, b;
  {
    ScopedBackend outer(a);
    {
      ScopedBackend inner(b);
      EXPECT_EQ(&CurrentBackend(), &b);
    }
    EXPECT_EQ(&CurrentBackend(), &a);
  }
  EXPECT_EQ(InstalledBackend(), before);

  ScopedBackend none(*BackendByName("none"));
  DialogTemplate t = SettingsTemplate();
  Dialog d(t);
  bool initRan = false;
  ModalHandlers h;
  h.onInit = [&](Dialog&) { initRan = true; };
  EXPECT_EQ(RunModal(d, h), kCannotOpen);
  EXPECT_FALSE(initRan);  // the dialog never opened
  auto w = CreateModeless(t);
  w->Show();
  w->SetPos(40, 7);
  EXPECT_EQ(w->Model().Pos(40), 7);  // invisible, but keeps its state
}

std::string DefaultBackendWith(const char* env) {
  // Without a display: a desktop session must not change the answers.
  std::string cmd = "unset DISPLAY WAYLAND_DISPLAY; ";
  cmd += env ? std::string("HOLM_UI=") + env + " " : std::string("unset HOLM_UI; ");
  cmd += std::string(UI_TTY_DEMO) + " backend - </dev/null 2>/dev/null";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  const std::string key = "backend=";
  const size_t at = out.find(key);
  return at == std::string::npos
             ? out
             : out.substr(at + key.size(), out.find('\n', at) - at - key.size());
}

TEST(BackendChoice, EnvironmentForcesTheDefault) {
  EXPECT_EQ(DefaultBackendWith(nullptr), "terminal");
  EXPECT_EQ(DefaultBackendWith("none"), "none");
  EXPECT_EQ(DefaultBackendWith("headless"), "headless");
  EXPECT_EQ(DefaultBackendWith("terminal"), "terminal");
  EXPECT_EQ(DefaultBackendWith("desktop"), "desktop");
  EXPECT_EQ(DefaultBackendWith("bogus"), "terminal");  // unknown names are ignored
}

// The default backend of a process without a controlling terminal (a
// desktop application started from a menu) with the display variables
// given (null: unset).
std::string BackendWithoutTerminal(const char* wayland, const char* x11) {
  int out[2];
  if (pipe(out) != 0) return "pipe failed";
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    unsetenv("HOLM_UI");
    wayland ? setenv("WAYLAND_DISPLAY", wayland, 1) : unsetenv("WAYLAND_DISPLAY");
    x11 ? setenv("DISPLAY", x11, 1) : unsetenv("DISPLAY");
    dup2(out[1], 1);
    close(out[0]);
    execl(UI_TTY_DEMO, UI_TTY_DEMO, "backend", "-", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
    text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  const size_t at = text.find("backend=");
  return at == std::string::npos ? text : text.substr(at + 8, text.find('\n', at) - at - 8);
}

TEST(BackendChoice, ADisplayOfEitherKindAndNoTerminalMeansTheDesktop) {
  EXPECT_EQ(BackendWithoutTerminal(nullptr, ":5"), "desktop");
  EXPECT_EQ(BackendWithoutTerminal("wayland-0", nullptr), "desktop");
  EXPECT_EQ(BackendWithoutTerminal("wayland-0", ""), "desktop");
  EXPECT_EQ(BackendWithoutTerminal("", ":5"), "desktop");
  EXPECT_EQ(BackendWithoutTerminal("", ""), "terminal");  // set but empty: no display
  EXPECT_EQ(BackendWithoutTerminal(nullptr, nullptr), "terminal");
  EXPECT_STREQ(ChoosePosixBackend(true, true), "terminal");  // a terminal program on a desktop
}

// A process without a controlling terminal (a daemon, CI): the terminal
// backend's modal dialog fails to open and its windows stay invisible.
TEST(TerminalBackend, WithoutTerminalModalFailsAndWindowsKeepState) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setsid() < 0) _exit(10);
    ScopedBackend use(*BackendByName("terminal"));
    DialogTemplate t = SettingsTemplate();
    Dialog d(t);
    if (RunModal(d) != kCannotOpen) _exit(11);
    auto w = CreateModeless(t);
    w->Show();
    w->SetText(kIdOk, "x");
    w->SetRange(40, 0, 10);
    w->SetPos(40, 4);
    if (!w->IsVisible() || w->Model().Pos(40) != 4 || w->Model().Text(kIdOk) != "x") _exit(12);
    w->Hide();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace holm::ui
