// The file layer on POSIX. Writing: open(2) with O_EXCL on a fresh name
// beside the target, write(2), fsync(2), rename(2), or the target itself
// opened for writing where a rename would change what the user chose (see
// the header); reading with open(2) and read(2).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>

#include "holm/srecord/image_file.h"
#include "holm/srecord/srecord.h"

namespace holm {

// ---------------------------------------------------------------- reading

InputFile::InputFile(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) throw S19FileError("invalid file name");
  // Non-blocking open, so that a FIFO without a writer cannot hang us.
  fd_ = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw S19FileError("cannot open " + name);
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw S19FileError("not a regular file: " + name);
  }
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t InputFile::Read(char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) throw S19FileError("cannot read file");
  }
}

// ---------------------------------------------------------------- writing

namespace {
std::atomic<unsigned> tempCounter{0};
}  // namespace

bool ReplacingFile::OpenTemporary() {
  // A name nobody else uses: process id, a counter and the clock.
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned long stamp = static_cast<unsigned long>(
        std::chrono::steady_clock::now().time_since_epoch().count() & 0xFFFFFF);
    temp_ = target_ + ".tmp" + std::to_string(getpid()) + "_" + std::to_string(tempCounter++) +
            "_" + std::to_string(stamp);
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  temp_.clear();
  return false;
}

ReplacingFile::ReplacingFile(const std::string& target) : target_(target) {
  if (target.empty() || target.find('\0') != std::string::npos)
    throw S19FileError("invalid file name");
  // A symbolic link stays a link: the file it points to is replaced.
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(target.c_str(), nullptr),
                                                     &std::free);
    if (real) target_ = real.get();
  }
  // Opening the target for writing asks the system whether we may write it
  // (mode, owner, read-only mounts); nothing is truncated. Non-blocking, so
  // that a pipe without a reader fails instead of hanging.
  int existing = ::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (existing < 0) {
    if (errno != ENOENT) throw S19FileError("cannot write " + target_);
    if (!OpenTemporary()) throw S19FileError("cannot create " + target_);
    return;
  }
  struct stat old {};
  if (::fstat(existing, &old) != 0) {
    ::close(existing);
    throw S19FileError("cannot write " + target_);
  }
  regular_ = S_ISREG(old.st_mode);
  if (regular_ && old.st_nlink == 1 && OpenTemporary()) {
    // The new file takes the old one's owner and permissions (after the
    // owner: changing it clears the set-id bits). An owner it cannot take
    // means writing in place instead.
    bool sameOwner = old.st_uid == ::geteuid() && old.st_gid == ::getegid();
    if (sameOwner || ::fchown(fd_, old.st_uid, old.st_gid) == 0) {
      (void)::fchmod(fd_, old.st_mode & 07777);
      ::close(existing);
      return;
    }
    Discard();
  }
  inPlace_ = true;
  fd_ = existing;
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
}

ReplacingFile::~ReplacingFile() {
  Discard();
}

void ReplacingFile::Discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    if (!inPlace_) ::unlink(temp_.c_str());
  }
}

void ReplacingFile::Write(const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw S19FileError("cannot write " + target_);
    }
    bytes += n;
    size -= static_cast<size_t>(n);
    written_ += static_cast<unsigned long long>(n);
  }
}

void ReplacingFile::Commit() {
  // In place, the old text past the new end goes.
  if (inPlace_ && regular_ && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0)
    throw S19FileError("cannot write " + target_);
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
    throw S19FileError("cannot write " + target_);
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    if (!inPlace_) ::unlink(temp_.c_str());
    throw S19FileError("cannot write " + target_);
  }
  if (inPlace_) return;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    ::unlink(temp_.c_str());
    throw S19FileError("cannot replace " + target_);
  }
}

}  // namespace holm
