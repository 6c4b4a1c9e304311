// Where `tarnctl read -o FILE` puts the S19 file, decided before the pager
// is woken so that a file that cannot be written costs no read:
//
//  - "-": standard output (the summary line then goes to standard error);
//    so does any name of the file standard output already is
//    (/proc/self/fd/1, /dev/stdout);
//  - a new file in a folder the user can write, or a writable regular file
//    there: written by the S19 writer (a temporary file renamed over it);
//  - a file the user cannot write (read-only) and a folder: refused;
//  - written in place, so that what the user set up stays: a character
//    device or a pipe, a symbolic link (written through; a dangling link
//    gets the file it names), a file with more than one hard link, a
//    writable file in a folder the user cannot write, and any existing
//    file under /dev (nothing there is ever renamed over);
//  - a block device or a socket: refused.
// A refusal is an Error with exit 4 that names the file and the reason.
#ifndef TARNCTL_OUTPUT_FILE_H
#define TARNCTL_OUTPUT_FILE_H

#include <tarnholm/interfaces.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarnctl {

struct OutputTarget {
  enum Kind { kReplace, kInPlace, kStandardOutput };
  Kind kind = kReplace;
  std::string path;
};

// Throws Error (exit 4) when the file cannot be written.
OutputTarget CheckOutputTarget(const std::string& file);

// A new folder only this process uses, named `prefix` and a random number,
// in the temporary folder; empty when none could be made.
std::filesystem::path MakePrivateFolder(const std::string& prefix);

// Writes the S19 file (same arguments as SaveImage) where the target says.
// Throws Error (exit 4).
void WriteOutput(const OutputTarget& target, const std::string& text, uint32_t base,
                 const BYTE* data, uint32_t length, const std::string& header);

}  // namespace tarnctl

#endif  // TARNCTL_OUTPUT_FILE_H
