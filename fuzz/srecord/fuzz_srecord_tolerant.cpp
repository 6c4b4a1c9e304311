// The tolerant reader on any file content: it never fails because of
// record contents, and its report stays consistent.
#include <cstdlib>
#include <string_view>

#include "fuzz_input.h"
#include "holm/srecord/srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  srfuzz::Setup s;
  if (!srfuzz::Prepare(bytes, size, s)) return 0;
  holm::ImageDesc desc{s.base, s.header.get(), s.headerSize, s.data.get(), s.dataSize};
  holm::FileInfo info;
  size_t textLength = 0;
  holm::ReadImageFileEx(s.file, desc, info, [&](std::string_view t) { textLength = t.size(); });
  // Every byte of the file is either in a record line or in the text (plus
  // one line feed per text line), so the text is never longer than the file
  // with a line feed added per line.
  if (textLength > 2 * (size - 4) + 1) std::abort();
  if (info.ChecksumErrors < 0 || info.FormatErrors < 0 || info.Reserved1 || info.Reserved2)
    std::abort();
  if (info.HeaderBad && !info.HasHeader) std::abort();
  if (info.EndGood && !info.HasEnd) std::abort();
  std::string_view line(reinterpret_cast<const char*>(bytes), size);
  uint16_t address = 0;
  uint8_t count = 0;
  holm::RecordStatus status =
      holm::ScanRecord(line, s.base, s.data.get(), s.dataSize, &address, &count);
  if (status != holm::RecordOk && status != holm::RecordChecksumError &&
      status != holm::RecordMalformed)
    std::abort();
  return 0;
}
