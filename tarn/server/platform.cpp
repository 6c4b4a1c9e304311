#include "tarn/server/platform.h"

#include <cstdlib>
#include <cstring>

namespace tarn {

bool QueryPlatformId(uint32_t* platformId) {
  const char* forced = std::getenv(kForcePlatformVariable);
  if (forced != nullptr && *forced != '\0') {
    if (std::strcmp(forced, "fail") == 0) return false;
    if (forced[1] == '\0' && forced[0] >= '0' && forced[0] <= '2') {
      *platformId = static_cast<uint32_t>(forced[0] - '0');
      return true;
    }
  }
  return QueryPlatformIdNative(platformId);
}

}  // namespace tarn
