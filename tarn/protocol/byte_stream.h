// CByteStream: the protocol's work buffer. A growable byte buffer with a
// cursor: appends write at the cursor (growing the storage as needed), reads
// take from the cursor up to the high-water mark of what was written.
#ifndef TARN_PROTOCOL_BYTE_STREAM_H
#define TARN_PROTOCOL_BYTE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tarn {

class CByteStream {
 public:
  static constexpr uint32_t kInitialCapacity = 100000;

  // Zero-filled storage of `capacity` bytes, empty.
  explicit CByteStream(uint32_t capacity = kInitialCapacity);
  CByteStream(const CByteStream&) = delete;
  CByteStream& operator=(const CByteStream&) = delete;
  ~CByteStream();

  // Writes n bytes at the cursor. While the capacity is short of
  // position + n it becomes 2 * capacity + 1 (new storage zero-filled, the
  // written bytes kept). size = max(size, position + n); position += n.
  // Throws std::length_error past 4 GiB and std::bad_alloc when memory runs
  // out; the stream is unchanged then.
  void Append(const uint8_t* src, uint32_t n);
  // As Append, but writes src[n-1] ... src[0]: an n-byte little-endian
  // number goes in most significant byte first.
  void AppendReversed(const uint8_t* src, uint32_t n);
  // Copies min(n, size - position) bytes from the cursor and advances it;
  // returns the number copied.
  uint32_t Read(uint8_t* dst, uint32_t n);
  // position = min(p, size); returns it.
  uint32_t Seek(uint32_t p);
  uint32_t Position() const { return position_; }
  // Zeroes the used bytes; size = position = 0. The capacity stays.
  void Clear();
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  uint32_t Size() const { return size_; }
  uint32_t Capacity() const { return capacity_; }
  // Frees the storage (capacity 0); a later Append grows it again.
  void Free();

 private:
  // Makes room for `end` bytes by the growth rule.
  void Reserve(uint64_t end);

  std::unique_ptr<uint8_t[]> data_;
  uint32_t capacity_ = 0;
  uint32_t size_ = 0;
  uint32_t position_ = 0;
};

}  // namespace tarn

#endif  // TARN_PROTOCOL_BYTE_STREAM_H
