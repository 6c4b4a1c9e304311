// An optional observer of the bytes a channel puts on and takes off the
// wire, for a wire trace. The channel calls it on the thread doing the I/O;
// the sink adds its own timestamps.
#ifndef TARN_CHANNEL_TRACE_SINK_H
#define TARN_CHANNEL_TRACE_SINK_H

#include <cstdint>

namespace tarn {

enum class TraceDirection { kSent, kReceived };

class ITraceSink {
 public:
  virtual ~ITraceSink() = default;
  // One byte went out or came in.
  virtual void OnByte(TraceDirection direction, uint8_t byte) = 0;
  // Something happened on the line: "open", "close", "read timeout",
  // "write timeout", "read failed", "write failed". A static text.
  virtual void OnEvent(const char* what) { (void)what; }
};

}  // namespace tarn

#endif  // TARN_CHANNEL_TRACE_SINK_H
