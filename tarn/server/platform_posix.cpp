#include "tarn/server/platform.h"

namespace tarn {

// A POSIX system has no Win32s: it counts as the NT family, so the direct
// serial channel is used.
bool QueryPlatformIdNative(uint32_t* platformId) {
  *platformId = kPlatformNT;
  return true;
}

}  // namespace tarn
