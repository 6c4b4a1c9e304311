// The strict reader on any file content: data or S19Damaged, nothing else.
#include <cstdlib>
#include <string_view>

#include "fuzz_input.h"
#include "holm/srecord/srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  srfuzz::Setup s;
  if (!srfuzz::Prepare(bytes, size, s)) return 0;
  try {
    holm::ReadImageFile(
        s.file, [](std::string_view) {}, s.base, s.header.get(), s.headerSize, s.data.get(),
        s.dataSize);
  } catch (const holm::S19Damaged&) {
  }
  // The record functions on the whole input as one line.
  std::string_view line(reinterpret_cast<const char*>(bytes), size);
  try {
    holm::LoadRecord(line, s.base, s.data.get(), s.dataSize);
  } catch (const holm::S19Damaged&) {
  }
  return 0;
}
