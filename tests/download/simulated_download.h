// Shared fixture of the download object's inside tests: a CDownload whose
// channel is the simulator's in-process link, in virtual time, released at
// the end of the test.
#ifndef TESTS_DOWNLOAD_SIMULATED_DOWNLOAD_H
#define TESTS_DOWNLOAD_SIMULATED_DOWNLOAD_H

#include <gtest/gtest.h>

#include "tarn/server/download.h"
#include "tools/pagersim/sim_link.h"

namespace tarn {

struct Simulated {
  Simulated() {
    object = static_cast<CDownload*>(CDownload::Create());
    delete object->channel;
    link = new pagersim::SimLink;
    object->channel = link;
    object->SetClock(
        [](void* context) -> uint64_t {
          // 100 ns ticks of the link's virtual time, from some fixed start.
          return 130000000000000000ull + static_cast<pagersim::SimLink*>(context)->NowUs() * 10;
        },
        link);
    object->channel->SetSettings("device = sim");
  }
  ~Simulated() { static_cast<IDownloadError*>(object)->Release(); }
  Simulated(const Simulated&) = delete;
  Simulated& operator=(const Simulated&) = delete;
  // A deadline that passed long ago.
  void PassDeadline() { object->deadline = 0; }
  // The reported error code, read through the interface.
  LONG Code() {
    LONG code = 0;
    EXPECT_EQ(object->GetErrorCode(&code), S_OK);
    return code;
  }
  CDownload* object;
  pagersim::SimLink* link;  // owned by the object
};

}  // namespace tarn

#endif  // TESTS_DOWNLOAD_SIMULATED_DOWNLOAD_H
