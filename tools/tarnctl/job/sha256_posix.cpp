// SHA-256 on POSIX: nettle's implementation (Debian nettle-dev), fed in
// pieces so a length beyond what one update call takes still works.
#include <nettle/sha2.h>

#include <algorithm>

#include "sha256.h"

namespace tarnctl {

std::string Sha256Hex(const void* data, size_t length) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    size_t piece = std::min<size_t>(length, size_t(1) << 30);
    sha256_update(&ctx, piece, p);
    p += piece;
    length -= piece;
  }
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, SHA256_DIGEST_SIZE, digest);
  return DigestHex(digest);
}

}  // namespace tarnctl
