#include "tools/pagersim/image.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "serial/ascii.h"

namespace pagersim {

namespace {

ImageLoader& S19Loader() {
  static ImageLoader loader;
  return loader;
}

ImageSaver& S19Saver() {
  static ImageSaver saver;
  return saver;
}

bool IsS19Name(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ext = serial::LowerAscii(path.substr(dot + 1));
  return ext == "s19" || ext == "srec" || ext == "s28" || ext == "mot";
}

}  // namespace

void SetS19Loader(ImageLoader loader) {
  S19Loader() = std::move(loader);
}
void SetS19Saver(ImageSaver saver) {
  S19Saver() = std::move(saver);
}

bool LoadImage(const std::string& path, uint32_t offset, Memory& memory, std::string* error) {
  // Only regular files: a device or a pipe may never end (/dev/zero).
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
    *error = path + ": not a regular file (a folder, device or pipe cannot be an image)";
    return false;
  }
  if (IsS19Name(path)) {
    if (!S19Loader()) {
      *error = path + ": S-record images are not supported by this build";
      return false;
    }
    return S19Loader()(path, memory, error);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  // At most one byte more than the memory holds is read: enough to refuse
  // a file that is too large without reading all of it.
  std::vector<uint8_t> bytes(kMemorySize + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  if (in.bad()) {
    *error = path + ": read error";
    return false;
  }
  if (offset > kMemorySize || bytes.size() > kMemorySize - offset) {
    *error = path + ": " +
             (bytes.size() > kMemorySize ? "more than 65536" : std::to_string(bytes.size())) +
             " bytes from offset " + std::to_string(offset) + " do not fit in the 64 KiB memory";
    return false;
  }
  std::copy(bytes.begin(), bytes.end(), memory.begin() + offset);
  return true;
}

bool SaveImage(const std::string& path, const Memory& memory, std::string* error) {
  if (IsS19Name(path)) {
    if (!S19Saver()) {
      *error = path + ": S-record images are not supported by this build";
      return false;
    }
    return S19Saver()(path, memory, error);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) out.write(reinterpret_cast<const char*>(memory.data()), memory.size());
  if (!out) {
    *error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace pagersim
