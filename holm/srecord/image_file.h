// The platform file layer of the S-record codec: a file read in large
// chunks, and a file that replaces its target only when it is complete.
// Every failure is thrown as S19FileError.
#ifndef HOLM_SRECORD_IMAGE_FILE_H
#define HOLM_SRECORD_IMAGE_FILE_H

#include <cstddef>
#include <string>

namespace holm {

// A file opened for reading, in binary form (line ends are the reader's job).
// Only regular files are read: a device, pipe or folder could block or never
// end, and is refused as a file failure.
class CInputFile {
 public:
  explicit CInputFile(const std::string& name);
  ~CInputFile();
  CInputFile(const CInputFile&) = delete;
  CInputFile& operator=(const CInputFile&) = delete;

  // Reads up to size bytes; 0 at the end of the file.
  size_t Read(char* buffer, size_t size);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

// A new file written under a temporary name in the target's folder and
// renamed over the target by Commit. Destroyed without Commit, it removes
// the temporary file and leaves the target as it was.
class CReplacingFile {
 public:
  explicit CReplacingFile(const std::string& target);
  ~CReplacingFile();
  CReplacingFile(const CReplacingFile&) = delete;
  CReplacingFile& operator=(const CReplacingFile&) = delete;

  void Write(const char* bytes, size_t size);
  // Flushes, closes and puts the file in place of the target.
  void Commit();

 private:
  void Discard() noexcept;

  std::string target_;
  std::string temp_;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace holm

#endif  // HOLM_SRECORD_IMAGE_FILE_H
