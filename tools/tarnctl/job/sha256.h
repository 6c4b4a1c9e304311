// SHA-256 of a byte string, for the job log's record of which image went
// to which pager. Hex digest in lower case. The digest itself comes from the
// platform's vetted implementation (nettle on POSIX, the CNG primitives of
// bcrypt on Windows); only the hex formatting is ours.
#ifndef TARNCTL_SHA256_H
#define TARNCTL_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnctl {

std::string Sha256Hex(const void* data, size_t length);

// The digest of a file's bytes; "" when the file cannot be read.
std::string Sha256OfFile(const std::string& fileName);

// Lower-case hex of a 32-byte digest (shared by both platform files).
std::string DigestHex(const uint8_t (&digest)[32]);

}  // namespace tarnctl

#endif  // TARNCTL_SHA256_H
