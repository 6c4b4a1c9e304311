#include "tarn/protocol/byte_stream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tarn {

CByteStream::CByteStream(uint32_t capacity)
    : data_(capacity > 0 ? std::make_unique<uint8_t[]>(capacity) : nullptr), capacity_(capacity) {}

CByteStream::~CByteStream() {
  Free();
}

void CByteStream::Reserve(uint64_t end) {
  if (end <= capacity_) return;
  if (end > UINT32_MAX) throw std::length_error("byte stream too large");
  uint64_t capacity = capacity_;
  while (capacity < end) capacity = 2 * capacity + 1;
  // The rule may overshoot the 32-bit range; the bytes that can be addressed
  // are all that is ever needed.
  capacity = std::min<uint64_t>(capacity, UINT32_MAX);
  auto grown = std::make_unique<uint8_t[]>(static_cast<size_t>(capacity));  // zero-filled
  if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
  data_ = std::move(grown);
  capacity_ = static_cast<uint32_t>(capacity);
}

void CByteStream::Append(const uint8_t* src, uint32_t n) {
  if (n == 0) return;
  uint64_t end = static_cast<uint64_t>(position_) + n;
  Reserve(end);
  std::memcpy(data_.get() + position_, src, n);
  size_ = std::max(size_, static_cast<uint32_t>(end));
  position_ = static_cast<uint32_t>(end);
}

void CByteStream::AppendReversed(const uint8_t* src, uint32_t n) {
  if (n == 0) return;
  uint64_t end = static_cast<uint64_t>(position_) + n;
  Reserve(end);
  uint8_t* out = data_.get() + position_;
  for (uint32_t i = 0; i < n; ++i) out[i] = src[n - 1 - i];
  size_ = std::max(size_, static_cast<uint32_t>(end));
  position_ = static_cast<uint32_t>(end);
}

uint32_t CByteStream::Read(uint8_t* dst, uint32_t n) {
  n = std::min(n, size_ - position_);
  if (n > 0) std::memcpy(dst, data_.get() + position_, n);
  position_ += n;
  return n;
}

uint32_t CByteStream::Seek(uint32_t p) {
  position_ = std::min(p, size_);
  return position_;
}

void CByteStream::Clear() {
  if (size_ > 0) std::memset(data_.get(), 0, size_);
  size_ = 0;
  position_ = 0;
}

void CByteStream::Free() {
  data_.reset();
  capacity_ = 0;
  size_ = 0;
  position_ = 0;
}

}  // namespace tarn
