#include <windows.h>

#include "tarn/server/platform.h"

namespace tarn {

bool QueryPlatformIdNative(uint32_t* platformId) {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = 148;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
  BOOL ok = GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  if (!ok) return false;
  *platformId = info.dwPlatformId;
  return true;
}

}  // namespace tarn
