// Shared by the S-record fuzz targets: the input goes to a file of this
// process (the readers work on files), and the first bytes choose the
// base address and the buffer sizes. The buffers are heap blocks of exactly
// their size, so a write outside them is caught by AddressSanitizer.
#ifndef FUZZ_SRECORD_FUZZ_INPUT_H
#define FUZZ_SRECORD_FUZZ_INPUT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace srfuzz {

struct Setup {
  int32_t base = 0;
  int32_t headerSize = 0;
  int32_t dataSize = 0;
  std::unique_ptr<uint8_t[]> header;
  std::unique_ptr<uint8_t[]> data;
  std::string file;
};

// Returns false if the input is too short or cannot be stored.
inline bool Prepare(const uint8_t* bytes, size_t size, Setup& s) {
  if (size < 4) return false;
  s.base = static_cast<int32_t>((bytes[0] << 8 | bytes[1]) - 0x100);
  s.headerSize = bytes[2] % 9;       // 0..8 bytes
  s.dataSize = (bytes[3] % 65) * 2;  // 0..128 bytes
  s.header.reset(s.headerSize ? new uint8_t[s.headerSize] : nullptr);
  s.data.reset(s.dataSize ? new uint8_t[s.dataSize] : nullptr);
  s.file = "/tmp/fuzz_srecord_" + std::to_string(getpid()) + ".s19";
  std::FILE* f = std::fopen(s.file.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes + 4, 1, size - 4, f) == size - 4;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace srfuzz

#endif  // FUZZ_SRECORD_FUZZ_INPUT_H
