// SHA-256 on Windows: the system's CNG primitives (bcrypt.dll), fed in
// pieces of at most 1 GiB since BCryptHashData takes a 32-bit length. A
// failing provider gives "", which the job log records as an unknown digest.
// bcrypt.h needs the types windows.h declares, so it comes second.
#include <windows.h>
//
#include <bcrypt.h>

#include <algorithm>

#include "sha256.h"

namespace tarnctl {
namespace {

bool HashInto(BCRYPT_HASH_HANDLE hash, const uint8_t* p, size_t length, uint8_t (&digest)[32]) {
  while (length > 0) {
    ULONG piece = ULONG(std::min<size_t>(length, size_t(1) << 30));
    if (!BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(p), piece, 0))) return false;
    p += piece;
    length -= piece;
  }
  return BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
}

}  // namespace

std::string Sha256Hex(const void* data, size_t length) {
  BCRYPT_ALG_HANDLE alg = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return {};
  BCRYPT_HASH_HANDLE hash = nullptr;
  uint8_t digest[32];
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0)) &&
            HashInto(hash, static_cast<const uint8_t*>(data), length, digest);
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(alg, 0);
  return ok ? DigestHex(digest) : std::string();
}

}  // namespace tarnctl
