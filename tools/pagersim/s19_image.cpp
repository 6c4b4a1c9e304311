// S-record images for pagersim through the system's own codec.
#include "holm/srecord/srecord.h"
#include "tools/pagersim/image.h"

namespace pagersim {

void InstallS19Support() {
  SetS19Loader([](const std::string& path, Memory& memory, std::string* error) {
    // Read into a copy, so a damaged file leaves the memory as it was.
    Memory image = memory;
    holm::ImageDesc desc;
    desc.Data = image.data();
    desc.DataSize = static_cast<int32_t>(image.size());
    holm::FileInfo info;
    // The codec loads S1 records only; S2 and S3 records (24- and 32-bit
    // addresses) come back as text and would load nothing without a word.
    char wide = 0;
    try {
      holm::ReadImageFileEx(path, desc, info, [&wide](std::string_view text) {
        size_t at = 0;
        while (!wide && at < text.size()) {
          if (text.compare(at, 2, "S2") == 0 || text.compare(at, 2, "S3") == 0) wide = text[at + 1];
          const size_t end = text.find('\n', at);
          if (end == std::string_view::npos) break;
          at = end + 1;
        }
      });
    } catch (const std::exception& e) {
      *error = path + ": " + e.what();
      return false;
    }
    if (wide) {
      *error = path + ": S" + wide +
               " records (24- or 32-bit addresses) are not supported; the pager image takes S1 "
               "records with 16-bit addresses";
      return false;
    }
    if (info.ChecksumErrors != 0 || info.FormatErrors != 0) {
      *error = path + ": " + std::to_string(info.ChecksumErrors) + " checksum errors and " +
               std::to_string(info.FormatErrors) + " malformed records";
      return false;
    }
    memory = image;
    return true;
  });
  SetS19Saver([](const std::string& path, const Memory& memory, std::string* error) {
    try {
      holm::WriteImageFile(path, "", 0, nullptr, 0, memory.data(),
                           static_cast<int32_t>(memory.size()));
    } catch (const std::exception& e) {
      *error = path + ": " + e.what();
      return false;
    }
    return true;
  });
}

}  // namespace pagersim
