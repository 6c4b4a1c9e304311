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
// end, and is refused as a file failure. On Windows a 0x1A byte ends the
// input, as it ends text-mode input there: what follows it is not read.
class InputFile {
 public:
  explicit InputFile(const std::string& name);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Reads up to size bytes; 0 at the end of the file.
  size_t Read(char* buffer, size_t size);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
  bool ended_ = false;  // a 0x1A byte was met
#else
  int fd_ = -1;
#endif
};

// The file a writer produces, put in place of the target by Commit.
//
// Where it can, it writes a new file under a temporary name in the
// target's folder and renames it over the target, so a failure leaves the
// old file as it was. The new file takes the old one's permissions and
// owner; a symbolic link stays a link and the file it points to is
// replaced. But the rename is only used where it changes nothing the user
// chose:
//   - a target the user may not write (read-only, or owned by another user
//     without write permission for us) is a file failure, and stays as it
//     was, exactly as creating the file over it would fail;
//   - a target that is not a regular file (a device, a pipe), has several
//     names (hard links), sits in a folder where no new file can be made,
//     or whose owner the new file could not take, is written in place:
//     opened without truncating, overwritten from the start and cut to the
//     new length by Commit. A failure before the first write leaves it
//     untouched; the writer buffers its output, so that is almost every
//     failure except one of the disk itself.
// Destroyed without Commit, it removes the temporary file.
class ReplacingFile {
 public:
  explicit ReplacingFile(const std::string& target);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  void Write(const char* bytes, size_t size);
  // Flushes, closes and puts the file in place of the target.
  void Commit();

 private:
  void Discard() noexcept;
  // Opens a temporary file beside the target; false when the folder takes
  // no new file.
  bool OpenTemporary();
#ifdef _WIN32
  bool OpenTemporaryWith(unsigned long attributes);
#endif

  std::string target_;
  std::string temp_;      // empty when writing in place
  bool inPlace_ = false;  // overwriting the target itself
  bool regular_ = true;   // the file written is a regular file
  unsigned long long written_ = 0;
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

}  // namespace holm

#endif  // HOLM_SRECORD_IMAGE_FILE_H
