// The desktop backend: dialogs and windows drawn by a helper program of our
// own (holm-ui-helper, a GTK program) in a process of its own, so that no
// GUI toolkit is loaded into the client. The library starts one helper per
// window with a socket pair on the helper's descriptor 3, sends it the
// template and the model's state (holm/ui/desktop_protocol.h) and reads
// its answers:
//   - a modal dialog: the calling thread waits until the helper reports the
//     pressed button with the user's choices; onOk may refuse (the dialog
//     then stays open);
//   - a modeless window: the helper is started on the first Show and keeps
//     running, window shown or hidden, until the window is destroyed; every
//     change is sent as it happens and the helper draws it at once. Show
//     returns when the window is on the screen.
// The helper never outlives the client: it exits on end of file on its
// socket (the client closed it, exited or exec'd) and when its parent
// process dies (parent-death signal), also if a child of the client still
// holds the socket.
//
// The helper is looked for in this order: $HOLM_UI_HELPER; next to the
// library (or executable) this code is in; in the install's
// libexec/tarnholm beside the library's lib directory; the configured
// install prefix; the build tree. If it cannot be started (not found, no
// display, it died), a modal dialog fails to open (kCannotOpen) and a
// window stays invisible; the reason is written to standard error once per
// process, and a helper that could not open the display is not tried again.
#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "holm/ui/backends.h"
#include "holm/ui/desktop_protocol.h"
#include "holm/ui/ui.h"

extern char** environ;

namespace holm::ui {
namespace {

using desktop::SplitLine;

constexpr const char* kHelperName = "holm-ui-helper";
// How long the helper may take to open the display and answer.
constexpr int kStartTimeoutMs = 15000;

std::atomic<bool> g_reported{false};
std::atomic<bool> g_noDisplay{false};

void ReportOnce(const std::string& why) {
  if (!g_reported.exchange(true))
    std::fprintf(stderr, "holm: no desktop window: %s\n", why.c_str());
}

bool IsExecutable(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string HelperPath() {
  if (const char* forced = std::getenv("HOLM_UI_HELPER"); forced != nullptr && *forced != '\0')
    return forced;
  std::vector<std::string> candidates;
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&HelperPath), &info) != 0 && info.dli_fname != nullptr) {
    std::string module = info.dli_fname;
    if (module.find('/') == std::string::npos) {
      // The executable itself, named without a path.
      char self[4096];
      const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
      if (n > 0) module.assign(self, static_cast<size_t>(n));
    }
    const std::string dir = DirOf(module);
    candidates.push_back(dir + "/" + kHelperName);
    candidates.push_back(dir + "/" + HOLM_UI_HELPER_FROM_LIBDIR + "/" + kHelperName);
  }
  candidates.push_back(HOLM_UI_HELPER_INSTALLED);
  candidates.push_back(HOLM_UI_HELPER_BUILT);
  for (const std::string& c : candidates)
    if (IsExecutable(c)) return c;
  return std::string();
}

// One running helper and the client's end of its socket.
class Helper {
 public:
  // Starts the helper and waits until it has opened the display; null (with
  // the reason in *why) when it cannot.
  static std::unique_ptr<Helper> Start(std::string* why);
  ~Helper();
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;

  bool Send(const std::string& messages);
  // The next line from the helper; false when it is gone or timeoutMs
  // (-1: no limit) passed.
  bool ReadLine(std::vector<std::string>* fields, int timeoutMs);
  // Sends ping and waits for its pong: everything sent before is drawn.
  bool Sync();

 private:
  Helper(int fd, pid_t pid) : fd_(fd), pid_(pid) {}
  int fd_;
  pid_t pid_;
  std::string buffer_;
  int pings_ = 0;
};

std::unique_ptr<Helper> Helper::Start(std::string* why) {
  const std::string path = HelperPath();
  if (path.empty()) {
    *why = std::string(kHelperName) + " not found (set HOLM_UI_HELPER)";
    return nullptr;
  }
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
    *why = std::string("socketpair: ") + std::strerror(errno);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 3);  // dup2 clears close-on-exec
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The helper starts with default signal handling whatever the client set.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  const std::string parent = std::to_string(getpid());
  const char* codeset = nl_langinfo(CODESET);
  const std::string charset = codeset != nullptr && *codeset != '\0' ? codeset : "UTF-8";
  std::vector<char*> argv = {const_cast<char*>(path.c_str()),
                             const_cast<char*>("--fd"),
                             const_cast<char*>("3"),
                             const_cast<char*>("--parent"),
                             const_cast<char*>(parent.c_str()),
                             const_cast<char*>("--charset"),
                             const_cast<char*>(charset.c_str()),
                             nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(sv[1]);
  if (rc != 0) {
    close(sv[0]);
    *why = "cannot start " + path + ": " + std::strerror(rc);
    return nullptr;
  }
  std::unique_ptr<Helper> helper(new Helper(sv[0], pid));
  std::vector<std::string> f;
  if (!helper->ReadLine(&f, kStartTimeoutMs)) {
    *why = path + " did not start";
    return nullptr;
  }
  if (f.empty() || f[0] != "ready") {
    *why = f.size() >= 2 && f[0] == "error" ? desktop::FieldText(f[1]) : "unexpected answer";
    if (f.size() >= 2 && f[0] == "error") g_noDisplay = true;
    return nullptr;
  }
  return helper;
}

Helper::~Helper() {
  Send("quit\n");
  close(fd_);
  // The helper exits on quit or end of file at once; one that hangs (its
  // display server stopped, say) is killed after a second.
  for (int i = 0; i < 100; ++i) {
    const pid_t r = waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

bool Helper::Send(const std::string& messages) {
  size_t done = 0;
  while (done < messages.size()) {
    const ssize_t n = send(fd_, messages.data() + done, messages.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool Helper::ReadLine(std::vector<std::string>* fields, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t eol = buffer_.find('\n');
    if (eol != std::string::npos) {
      *fields = SplitLine(std::string_view(buffer_).substr(0, eol));
      buffer_.erase(0, eol + 1);
      return true;
    }
    int wait = -1;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      wait = static_cast<int>(left.count());
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    char chunk[4096];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<size_t>(n));
  }
}

bool Helper::Sync() {
  const std::string n = std::to_string(++pings_);
  if (!Send("ping " + n + "\n")) return false;
  std::vector<std::string> f;
  while (ReadLine(&f, kStartTimeoutMs))
    if (f.size() == 2 && f[0] == "pong" && f[1] == n) return true;
  return false;
}

std::unique_ptr<Helper> StartHelper() {
  if (g_noDisplay) return nullptr;
  std::string why;
  std::unique_ptr<Helper> helper = Helper::Start(&why);
  if (!helper) ReportOnce(why);
  return helper;
}

// A modeless window: the helper runs from the first Show until destruction.
class DesktopWindow : public WindowImpl {
 public:
  explicit DesktopWindow(const ModelessWindow& window) : window_(window) {}
  void Show() override {
    if (!helper_) {
      helper_ = StartHelper();
      if (!helper_) return;
      const Dialog& model = window_.Model();
      if (!helper_->Send(desktop::TemplateMessages(model.Template()) +
                         desktop::AllStateMessages(model))) {
        return Lost();
      }
    }
    if (!helper_->Send("show\n") || !helper_->Sync()) Lost();
  }
  void Hide() override {
    if (helper_ && !helper_->Send("hide\n")) Lost();
  }
  void Repaint(int part) override {
    if (helper_ && !helper_->Send(desktop::StateMessages(window_.Model(), part))) Lost();
  }

 private:
  // The helper died (its display went away, someone killed it): the window
  // is invisible from now on, until the next Show starts a new helper.
  void Lost() {
    helper_.reset();
    ReportOnce("the window helper stopped");
  }
  const ModelessWindow& window_;
  std::unique_ptr<Helper> helper_;
};

class DesktopBackend : public Backend {
 public:
  const char* Name() const override { return "desktop"; }
  int RunModal(Dialog& dlg, const ModalHandlers& handlers) override;
  std::unique_ptr<WindowImpl> CreateWindowImpl(const ModelessWindow& window) override {
    return std::make_unique<DesktopWindow>(window);
  }
};

int DesktopBackend::RunModal(Dialog& dlg, const ModalHandlers& handlers) {
  std::unique_ptr<Helper> helper = StartHelper();
  if (!helper) return kCannotOpen;
  if (handlers.onInit) handlers.onInit(dlg);
  std::string state = desktop::AllStateMessages(dlg);
  if (!helper->Send(desktop::TemplateMessages(dlg.Template()) + state + "modal\n")) {
    ReportOnce("the window helper stopped");
    return kCannotOpen;
  }
  std::vector<std::string> f;
  for (;;) {
    if (!helper->ReadLine(&f, -1)) {
      // The helper died under the user (display closed): as Escape.
      ReportOnce("the window helper stopped");
      return kIdCancel;
    }
    if (desktop::ApplyChoice(f, dlg) || f.empty() || f[0] != "button" || f.size() < 2) continue;
    const int id = desktop::IntField(f, 1);
    if (id == kIdCancel) return kIdCancel;
    if (id != kIdOk) continue;
    if (!handlers.onOk || handlers.onOk(dlg)) return kIdOk;
    helper->Send(desktop::AllStateMessages(dlg) + "resume\n");
  }
}

}  // namespace

Backend* DesktopBackendInstance() {
  static DesktopBackend desktop;
  return &desktop;
}

}  // namespace holm::ui
