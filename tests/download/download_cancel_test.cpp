// CDownload at the edge of its client's world: a client thread cancelled in
// the middle of a call over a real pseudo-terminal, and the test-only
// switch of the platform answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pty_pair.h"
#include "tarn/channel/direct_serial_channel.h"
#include "tarn/server/download.h"
#include "tarn/server/platform.h"

namespace tarn {
namespace {

// Descriptors of this process that refer to the device at `path`.
int DescriptorsOf(const std::string& path) {
  struct stat device {};
  if (stat(path.c_str(), &device) != 0) return -1;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    struct stat st {};
    if (stat(entry.path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device.st_rdev)
      ++count;
  }
  return count;
}

void* RunIdentify(void* object) {
  static_cast<CDownload*>(object)->Identify();
  return nullptr;
}

TEST(DownloadCancel, ThreadCancelledInIdentifyEndsAndFreesThePort) {
  testpty::PtyPair pty;  // the far end stays silent
  ASSERT_TRUE(pty.Ok()) << pty.Error();
  auto* object = static_cast<CDownload*>(CDownload::Create());
  std::string settings = "device = " + pty.SlavePath();
  LONG result = E_FAIL;
  ASSERT_EQ(object->SetPortSettings(&result, settings.c_str()), S_OK);
  ASSERT_EQ(result, S_OK);

  pthread_t client;
  ASSERT_EQ(pthread_create(&client, nullptr, &RunIdentify, object), 0);
  // The first wake byte: the call has the port open and waits for an answer.
  ASSERT_EQ(pty.Read(1, 5000), std::vector<uint8_t>{0xAA});
  ASSERT_EQ(pthread_cancel(client), 0);
  void* end = nullptr;
  ASSERT_EQ(pthread_join(client, &end), 0);
  EXPECT_EQ(end, PTHREAD_CANCELED);

  // This process lives on, and the port is free: only the pair's own
  // descriptor is left, and another opener gets the device.
  EXPECT_EQ(DescriptorsOf(pty.SlavePath()), 1);
  CDirectSerialChannel other;
  other.SetSettings(settings.c_str());
  EXPECT_NO_THROW(other.Open());
  other.Close();
  LONG code = 0;
  EXPECT_EQ(object->GetErrorCode(&code), S_OK);
  EXPECT_EQ(code, 2);  // error 1: the call did not end normally
  static_cast<IDownloadError*>(object)->Release();
}

TEST(DownloadPlatform, OnlyTheTestVariableForcesThePlatformAnswer) {
  uint32_t id = 99;
  setenv("TARN_PLATFORM_ID", "0", 1);  // a name a user might set: ignored
  ASSERT_TRUE(QueryPlatformId(&id));
  EXPECT_EQ(id, kPlatformNT);
  unsetenv("TARN_PLATFORM_ID");
  setenv(kForcePlatformVariable, "0", 1);
  ASSERT_TRUE(QueryPlatformId(&id));
  EXPECT_EQ(id, kPlatformWin32s);
  setenv(kForcePlatformVariable, "fail", 1);
  EXPECT_FALSE(QueryPlatformId(&id));
  unsetenv(kForcePlatformVariable);
}

}  // namespace
}  // namespace tarn
