// Memory images for the simulated pager: raw binary files, and S-record files
// through a loader that a build with the S-record codec installs.
#ifndef TOOLS_PAGERSIM_IMAGE_H
#define TOOLS_PAGERSIM_IMAGE_H

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/pagersim/pager.h"

namespace pagersim {

using Memory = std::array<uint8_t, kMemorySize>;
using ImageLoader =
    std::function<bool(const std::string& path, Memory& memory, std::string* error)>;

using ImageSaver =
    std::function<bool(const std::string& path, const Memory& memory, std::string* error)>;

// Installs the loader and the saver used for S-record files (.s19, .srec,
// .s28, .mot); without them such files are refused with a clear error.
void SetS19Loader(ImageLoader loader);
void SetS19Saver(ImageSaver saver);
// Installs both from the S-record codec (s19_image.cpp).
void InstallS19Support();

// Loads `path` into `memory`: S-record files through the installed loader,
// anything else as raw bytes placed from `offset`. A raw image that does not
// fit in 64 KiB from `offset` is refused and leaves `memory` untouched.
bool LoadImage(const std::string& path, uint32_t offset, Memory& memory, std::string* error);

// Writes the whole 64 KiB memory: S-record files through the installed
// saver, anything else as a raw binary file.
bool SaveImage(const std::string& path, const Memory& memory, std::string* error);

}  // namespace pagersim

#endif  // TOOLS_PAGERSIM_IMAGE_H
