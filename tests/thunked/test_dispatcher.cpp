// A helper library for tests: "opens" any device and loops every byte
// written back to the next read.
#include <cstdint>

#include "tarn/channel/thunked_serial_channel.h"

extern "C" __attribute__((visibility("default"))) uint32_t ThunkDispatcher(
    tarn::ThunkParamBlock* block, uint32_t command, void**) {
  static uint32_t last = 0;
  static bool pending = false;
  switch (command) {
    case 96:
      last = block->word[6];
      pending = true;
      return 0;
    case 112:
      if (!pending) return 2;
      block->word[6] = last;
      pending = false;
      return 0;
    default:
      return 0;
  }
}
