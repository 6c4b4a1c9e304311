// holm-ui-helper: draws the windows of the desktop backend for a client
// process (holm/ui/desktop_backend_posix.cpp), one window per helper.
//
//   holm-ui-helper --fd N --parent PID [--charset NAME]
//
// It reads the messages of holm/ui/desktop_protocol.h from descriptor N (a
// socket) and answers on the same descriptor; texts arrive in the client's
// character set NAME (default UTF-8). It answers "ready" once the display
// is open, or "error =REASON" and exits 1 when it cannot open it.
//
// It never outlives its client: it exits on "quit", on end of file on the
// socket (the client closed it, exited or exec'd another program), and when
// its parent process PID dies, checked on the parent-death signal (which
// also comes when only the thread that started the helper ends: then the
// parent is still there and the helper stays).
#include <fcntl.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "holm/ui/desktop/gtk_window_posix.h"
#include "holm/ui/desktop_protocol.h"

namespace holm::ui::desktop {
namespace {

struct Helper {
  int fd = -1;
  pid_t parent = 0;
  std::string charset = "UTF-8";
  std::string input;
  DialogTemplate tmpl;
  std::unique_ptr<GtkDialogWindow> window;
};

Helper g;

void Send(const std::string& messages) {
  size_t done = 0;
  while (done < messages.size()) {
    const ssize_t n = send(g.fd, messages.data() + done, messages.size() - done, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) std::_Exit(0);  // the client is gone
    done += static_cast<size_t>(n);
  }
}

void Quit() {
  g.window.reset();
  std::_Exit(0);
}

// Everything sent so far is on the screen: the display has the requests.
void Pong(const std::string& n) {
  while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
  gdk_display_sync(gdk_display_get_default());
  Send("pong " + n + "\n");
}

void Handle(const std::vector<std::string>& f) {
  if (f.empty()) return;
  const std::string& verb = f[0];
  if (ReadTemplateLine(f, g.tmpl)) return;
  if (verb == "build") {
    g.window = std::make_unique<GtkDialogWindow>(g.tmpl, g.charset, &Send);
  } else if (verb == "quit") {
    Quit();
  } else if (verb == "ping" && f.size() >= 2) {
    Pong(f[1]);
  } else if (g.window == nullptr) {
    return;
  } else if (verb == "show") {
    g.window->Show();
  } else if (verb == "hide") {
    g.window->Hide();
  } else if (verb == "modal") {
    g.window->StartModal();
  } else if (verb == "resume") {
    g.window->Resume();
  } else {
    g.window->Apply(f);
  }
}

gboolean OnInput(gint fd, GIOCondition, gpointer) {
  char chunk[8192];
  const ssize_t n = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return G_SOURCE_CONTINUE;
  if (n <= 0) Quit();  // end of file: the client closed the socket, exited or exec'd
  g.input.append(chunk, static_cast<size_t>(n));
  size_t eol;
  while ((eol = g.input.find('\n')) != std::string::npos) {
    const std::string line = g.input.substr(0, eol);
    g.input.erase(0, eol + 1);
    Handle(SplitLine(line));
  }
  return G_SOURCE_CONTINUE;
}

gboolean OnParentDeath(gpointer) {
  if (getppid() != g.parent) Quit();
  return G_SOURCE_CONTINUE;
}

int Usage() {
  std::fprintf(stderr, "usage: holm-ui-helper --fd N --parent PID [--charset NAME]\n");
  return 2;
}

}  // namespace
}  // namespace holm::ui::desktop

int main(int argc, char** argv) {
  using namespace holm::ui::desktop;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    if (opt == "--fd")
      g.fd = std::atoi(argv[i + 1]);
    else if (opt == "--parent")
      g.parent = static_cast<pid_t>(std::atoi(argv[i + 1]));
    else if (opt == "--charset")
      g.charset = argv[i + 1];
    else
      return Usage();
  }
  if (g.fd < 0 || g.parent <= 0 || fcntl(g.fd, F_GETFD) < 0) return Usage();
  fcntl(g.fd, F_SETFD, FD_CLOEXEC);
  // The parent-death signal comes when the thread that started us ends; the
  // parent may already be gone before it was set.
  g_unix_signal_add(SIGUSR1, &OnParentDeath, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGUSR1);
  if (getppid() != g.parent) return 0;

  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0') display = std::getenv("DISPLAY");
    Send("error " +
         TextField(std::string("cannot open the display ") + (display ? display : "(none set)")) +
         "\n");
    return 1;
  }
  Send("ready\n");
  g_unix_fd_add(g.fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &OnInput, nullptr);
  gtk_main();
  return 0;
}
