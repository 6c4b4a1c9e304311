// SHA-256 of a byte string, for the job log's record of which image went
// to which pager. Hex digest in lower case.
#ifndef TARNCTL_SHA256_H
#define TARNCTL_SHA256_H

#include <cstddef>
#include <string>

namespace tarnctl {

std::string Sha256Hex(const void* data, size_t length);

// The digest of a file's bytes; "" when the file cannot be read.
std::string Sha256OfFile(const std::string& fileName);

}  // namespace tarnctl

#endif  // TARNCTL_SHA256_H
