// The reading side of the file layer, on the C library for every platform.
#include "holm/srecord/image_file.h"

#include "holm/srecord/srecord.h"

namespace holm {

CInputFile::CInputFile(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) throw S19FileError("invalid file name");
  file_ = std::fopen(name.c_str(), "rb");
  if (!file_) throw S19FileError("cannot open " + name);
  // The reader asks for large chunks itself; no second buffer in between.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

CInputFile::~CInputFile() {
  if (file_) std::fclose(file_);
}

size_t CInputFile::Read(char* buffer, size_t size) {
  size_t got = std::fread(buffer, 1, size, file_);
  if (got < size && std::ferror(file_)) throw S19FileError("cannot read file");
  return got;
}

}  // namespace holm
