// Which operating system platform the download server runs on, as the
// Windows version query reports it: 0 Win32s, 1 Windows 95/98/Me, 2 NT.
// The choice of serial channel class depends on it.
#ifndef TARN_SERVER_PLATFORM_H
#define TARN_SERVER_PLATFORM_H

#include <cstdint>

namespace tarn {

constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows = 1;
constexpr uint32_t kPlatformNT = 2;

constexpr const char kForcePlatformVariable[] = "TARN_TEST_FORCE_PLATFORM_ID";

// FALSE when the version query fails; POSIX systems answer "NT family".
//
// For tests only, the environment variable named by kForcePlatformVariable
// ("0", "1", "2" or "fail") overrides the answer, so that a test can run
// every object of a process over the thunked channel. Its name says what it
// is for, so that nobody sets it by accident; any other value is ignored.
bool QueryPlatformId(uint32_t* platformId);

// The platform's own answer.
bool QueryPlatformIdNative(uint32_t* platformId);

}  // namespace tarn

#endif  // TARN_SERVER_PLATFORM_H
