#include "pty_pair.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace testpty {

PtyPair::PtyPair() {
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
    error_ = std::string("posix_openpt: ") + strerror(errno);
    if (m >= 0) close(m);
    return;
  }
  char name[128];
  if (ptsname_r(m, name, sizeof name) != 0) {
    error_ = std::string("ptsname_r: ") + strerror(errno);
    close(m);
    return;
  }
  int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (s < 0) {
    error_ = std::string("open slave: ") + strerror(errno);
    close(m);
    return;
  }
  termios t{};
  tcgetattr(s, &t);
  cfmakeraw(&t);
  tcsetattr(s, TCSANOW, &t);
  int flags = fcntl(m, F_GETFL);
  fcntl(m, F_SETFL, flags | O_NONBLOCK);
  master_ = m;
  slave_ = s;
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseMaster();
  CloseSlave();
}

bool PtyPair::Write(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (size > 0) {
    if (master_ < 0) return false;
    ssize_t n = write(master_, p, size);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() > end) return false;
    pollfd pf{master_, POLLOUT, 0};
    poll(&pf, 1, 10);
  }
  return true;
}

size_t PtyPair::Read(void* buffer, size_t size, int timeoutMs) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t got = 0;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got < size && master_ >= 0) {
    ssize_t n = read(master_, p + got, size - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd pf{master_, POLLIN, 0};
    poll(&pf, 1, static_cast<int>(left.count()));
  }
  return got;
}

std::vector<uint8_t> PtyPair::Read(size_t size, int timeoutMs) {
  std::vector<uint8_t> bytes(size);
  bytes.resize(Read(bytes.data(), size, timeoutMs));
  return bytes;
}

void PtyPair::Drain() {
  uint8_t scratch[256];
  while (Read(scratch, sizeof scratch, 0) > 0) {
  }
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

void PtyPair::CloseSlave() {
  if (slave_ >= 0) close(slave_);
  slave_ = -1;
}

}  // namespace testpty
