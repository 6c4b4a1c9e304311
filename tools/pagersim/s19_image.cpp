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
    try {
      holm::ReadImageFileEx(path, desc, info, [](std::string_view) {});
    } catch (const std::exception& e) {
      *error = path + ": " + e.what();
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
