// What tarnctl checks in the files it reads before any of them reaches the
// pager: an S19 image file is read here first and held to stricter rules
// than the component's tolerant reader (which stays as it is), and a
// password file is read with a limit.
//
// The image rules, each refused with the line number (exit 4):
//  - S2/S3 records (24/32-bit addresses) and their S7/S8 end records: the
//    pager's address space is 16 bits;
//  - an S1 record that runs past 0xFFFF;
//  - a line that looks like a record but would be read as a comment (a
//    leading blank, a lower-case "s1"): hex digits only after "Sn";
//  - a data record after the end record (S9);
//  - an S5 count that differs from the number of data records before it;
//  - two records that give one address different bytes (equal bytes are
//    fine).
// A line ends where the S19 reader ends it: at its last ASCII letter or
// digit, whatever line end (LF, CR LF, CR CR LF) or trailing blanks, form
// feeds or punctuation follow.
// Malformed records and bad checksums are left to the component's reader,
// which reports them.
#ifndef TARNCTL_FILE_CHECKS_H
#define TARNCTL_FILE_CHECKS_H

#include <cstddef>
#include <string>
#include <vector>

#include "pager.h"

namespace tarnctl {

// An S19 file may be at most this large (a full 64 KiB image is ~180 KB).
inline constexpr size_t kMaxImageFileBytes = 8u << 20;

// Reads a regular file of at most `maxBytes` bytes. Throws Error (exit
// `exitCode`) naming the file and the reason: missing, a folder, not a
// regular file, no permission, too large.
std::string ReadSmallFile(const std::string& path, size_t maxBytes, const char* what, int exitCode);

// Throws Error (exit 4) for the first line that breaks one of the rules.
void CheckImageRecords(const std::string& text, const std::string& fileName);

// Password from a file: the bytes up to a final line end, at most 10,
// padded with zero bytes. Throws Error (exit 1).
Password PasswordFromBytes(const std::string& bytes);

// The download password from a file: at most 10 bytes and one line end are
// read (a longer file is refused without reading it all). Warnings (a file
// others may read, an empty password) are appended to `warnings`. Throws
// Error (exit 1).
Password ReadPasswordFile(const std::string& path, std::vector<std::string>* warnings);

}  // namespace tarnctl

#endif  // TARNCTL_FILE_CHECKS_H
