// The writing side of the file layer on POSIX: open(2) with O_EXCL on a
// fresh name beside the target, write(2), fsync(2), rename(2).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "holm/srecord/image_file.h"
#include "holm/srecord/srecord.h"

namespace holm {

namespace {
std::atomic<unsigned> tempCounter{0};
}  // namespace

CReplacingFile::CReplacingFile(const std::string& target) : target_(target) {
  if (target.empty() || target.find('\0') != std::string::npos)
    throw S19FileError("invalid file name");
  // A name nobody else uses: process id, a counter and the clock.
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long stamp = static_cast<unsigned long>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
    temp_ = target + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(tempCounter++) + "_" +
            std::to_string(stamp);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    if (errno != EEXIST) break;
  }
  if (fd_ < 0) throw S19FileError("cannot create " + target);
  // A replaced file keeps its permissions.
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    (void)::fchmod(fd_, old.st_mode & 07777);
}

CReplacingFile::~CReplacingFile() {
  Discard();
}

void CReplacingFile::Discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(temp_.c_str());
  }
}

void CReplacingFile::Write(const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw S19FileError("cannot write " + target_);
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
}

void CReplacingFile::Commit() {
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    throw S19FileError("cannot write " + target_);
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    ::unlink(temp_.c_str());
    throw S19FileError("cannot write " + target_);
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    throw S19FileError("cannot replace " + target_);
  }
}

}  // namespace holm
