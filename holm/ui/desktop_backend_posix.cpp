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
// The helper gets only what it needs: /dev/null as its input and output,
// the client's standard error when the client has one, the socket on 3 and
// no other descriptor of the client's (not its serial port, say), also when
// the client runs with descriptors 0 to 2 closed. A helper that stops
// reading never holds the client up: updates of a modeless window that do
// not fit into the socket are dropped, and the whole state is sent once
// the helper reads again; messages that must arrive (template, show, the
// modal start) wait at most kStartTimeoutMs, then the helper counts as
// gone. The helper is tracked by a pidfd where the system has them, so it
// is never signalled after it was reaped by someone else and its process
// ID reused.
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
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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

// The pidfd calls by number: the C library's declarations are not usable
// from C++ everywhere.
int PidfdOpen(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}
void PidfdKill(int pidfd) {
  (void)syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
}

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

  // Messages that must arrive: false when the helper is gone or has taken
  // nothing for kStartTimeoutMs.
  bool Send(const std::string& messages);
  // An update that may be dropped: never waits. When the helper takes no
  // more bytes, this and later updates are dropped and wholeState() is sent
  // instead once it does. False when the helper is gone.
  bool Update(const std::string& messages, const std::function<std::string()>& wholeState);
  // True once (and then false) when updates were dropped since the last
  // whole state: the caller sends the whole state with its next message.
  bool TakeStale() { return std::exchange(stale_, false); }
  // The next line from the helper; false when it is gone or timeoutMs
  // (-1: no limit) passed.
  bool ReadLine(std::vector<std::string>* fields, int timeoutMs);
  // Sends ping and waits for its pong: everything sent before is drawn.
  bool Sync();

 private:
  Helper(int fd, pid_t pid, int pidfd) : fd_(fd), pid_(pid), pidfd_(pidfd) {}
  enum class Flow { kSent, kBusy, kGone };
  // Sends what the outbox holds, waiting for room up to timeoutMs: kBusy
  // when bytes are left after that time.
  Flow Flush(int timeoutMs);
  bool Exited(int timeoutMs);
  int fd_;
  pid_t pid_;
  int pidfd_;           // -1 where the system has no pidfds
  std::string outbox_;  // the rest of a message the socket did not take yet
  bool stale_ = false;  // updates were dropped
  std::string buffer_;
  int pings_ = 0;
};

// A descriptor of the client's that is open and stays open across exec.
bool Inherited(int fd) {
  const int flags = fcntl(fd, F_GETFD);
  return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

// What the helper starts with: /dev/null as input and output, the client's
// standard error if it has one, the socket `helperEnd` (>= 4) on 3, and
// nothing else.
void HelperDescriptors(posix_spawn_file_actions_t* actions, int helperEnd) {
  posix_spawn_file_actions_adddup2(actions, helperEnd, 3);  // clears close-on-exec
  posix_spawn_file_actions_addopen(actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions, 1, "/dev/null", O_WRONLY, 0);
  if (!Inherited(2)) posix_spawn_file_actions_addopen(actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(actions, 4);
}

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
  // Both ends above the standard descriptors, which a client may have
  // closed: the helper's end is moved to 3 after 0 to 2 are set up.
  const int clientEnd = fcntl(sv[0], F_DUPFD_CLOEXEC, 3);
  const int helperEnd = fcntl(sv[1], F_DUPFD_CLOEXEC, 4);
  close(sv[0]);
  close(sv[1]);
  if (clientEnd < 0 || helperEnd < 0) {
    *why = std::string("socket descriptors: ") + std::strerror(errno);
    if (clientEnd >= 0) close(clientEnd);
    if (helperEnd >= 0) close(helperEnd);
    return nullptr;
  }
  fcntl(clientEnd, F_SETFL, fcntl(clientEnd, F_GETFL) | O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  HelperDescriptors(&actions, helperEnd);
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
  close(helperEnd);
  if (rc != 0) {
    close(clientEnd);
    *why = "cannot start " + path + ": " + std::strerror(rc);
    return nullptr;
  }
  // Taken before the helper could have been reaped: it cannot exit before
  // it has read its socket's end of file or answered.
  const int pidfd = PidfdOpen(pid);
  std::unique_ptr<Helper> helper(new Helper(clientEnd, pid, pidfd >= 0 ? pidfd : -1));
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

// True when the helper has ended within timeoutMs (-1: no limit); it is
// then reaped, unless someone else reaped it first.
bool Helper::Exited(int timeoutMs) {
  if (pidfd_ >= 0) {
    pollfd p{pidfd_, POLLIN, 0};
    int r;
    while ((r = poll(&p, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    if (r == 0) return false;
    siginfo_t info{};
    (void)waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &info, WEXITED);
    return true;
  }
  for (int waited = 0;; waited += 10) {
    const pid_t r = waitpid(pid_, nullptr, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) return true;
    if (timeoutMs >= 0 && waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

Helper::~Helper() {
  outbox_ += "quit\n";
  (void)Flush(0);
  close(fd_);
  // The helper exits on quit or end of file at once; one that hangs (its
  // display server stopped, say) is killed after a second, through its
  // pidfd, which cannot reach another process.
  if (!Exited(1000)) {
    if (pidfd_ >= 0)
      PidfdKill(pidfd_);
    else
      kill(pid_, SIGKILL);
    (void)Exited(-1);
  }
  if (pidfd_ >= 0) close(pidfd_);
}

Helper::Flow Helper::Flush(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!outbox_.empty()) {
    const ssize_t n = send(fd_, outbox_.data(), outbox_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      outbox_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return Flow::kGone;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Flow::kBusy;
    pollfd p{fd_, POLLOUT, 0};
    (void)poll(&p, 1, static_cast<int>(left.count()));
  }
  return Flow::kSent;
}

bool Helper::Send(const std::string& messages) {
  outbox_ += messages;
  return Flush(kStartTimeoutMs) == Flow::kSent;
}

bool Helper::Update(const std::string& messages, const std::function<std::string()>& wholeState) {
  const Flow earlier = Flush(0);
  if (earlier == Flow::kGone) return false;
  if (earlier == Flow::kBusy) {
    stale_ = true;  // still busy with an earlier message: this one is dropped
    return true;
  }
  outbox_ = TakeStale() ? wholeState() : messages;
  return Flush(0) != Flow::kGone;  // what is left goes out with the next update
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
    if (!helper_->Send(WholeStateIfStale() + "show\n") || !helper_->Sync()) Lost();
  }
  void Hide() override {
    if (helper_ && !helper_->Send(WholeStateIfStale() + "hide\n")) Lost();
  }
  void Repaint(int part) override {
    if (helper_ && !helper_->Update(desktop::StateMessages(window_.Model(), part),
                                    [this] { return desktop::AllStateMessages(window_.Model()); }))
      Lost();
  }

 private:
  std::string WholeStateIfStale() {
    return helper_->TakeStale() ? desktop::AllStateMessages(window_.Model()) : std::string();
  }
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
