// The platform-independent half of the job log's digest: hex formatting and
// the digest of a whole file. The digest of a byte string is in
// sha256_posix.cpp (nettle) or sha256_win32.cpp (bcrypt).
#include <fstream>
#include <iterator>
#include <vector>

#include "sha256.h"

namespace tarnctl {

std::string DigestHex(const uint8_t (&digest)[32]) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(64);
  for (uint8_t b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string Sha256OfFile(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return {};
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return Sha256Hex(bytes.data(), bytes.size());
}

}  // namespace tarnctl
