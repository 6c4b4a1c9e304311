// The failure a serial channel raises: a channel code (not an error index).
//
// Channel codes: 1 device cannot be opened; 2 out of memory for settings;
// 3 a port configuration or control call failed; 5 read call failed;
// 6 write call failed; 7 no byte within the timeout; 8 byte not written
// within the timeout; 9 the port refused the timeouts; 11 I/O on a closed
// channel; 12 unknown settings key; 13 unacceptable settings value;
// 14 the 16-bit helper library cannot be reached.
#ifndef TARN_CHANNEL_GENERAL_EXCEPTION_H
#define TARN_CHANNEL_GENERAL_EXCEPTION_H

#include <cstdint>

namespace tarn {

class GeneralException {
 public:
  explicit GeneralException(int32_t code) : code(code) {}
  GeneralException(const GeneralException& other) = default;
  GeneralException& operator=(const GeneralException& other) = default;
  virtual ~GeneralException() = default;
  virtual int32_t GetCode() const { return code; }

  int32_t code;
};

// Channel codes by name.
enum ChannelCode : int32_t {
  kChannelCantOpen = 1,
  kChannelNoMemory = 2,
  kChannelControlFailed = 3,
  kChannelReadFailed = 5,
  kChannelWriteFailed = 6,
  kChannelReadTimeout = 7,
  kChannelWriteTimeout = 8,
  kChannelTimeoutsRefused = 9,
  kChannelNotOpen = 11,
  kChannelUnknownKey = 12,
  kChannelBadValue = 13,
  kChannelNoHelper = 14,
};

}  // namespace tarn

#endif  // TARN_CHANNEL_GENERAL_EXCEPTION_H
