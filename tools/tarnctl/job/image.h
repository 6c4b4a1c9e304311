// Pager memory images in S19 files, through Holm's S19Support object
// ("Brenlow.S19SUPPORT").
#ifndef TARNCTL_IMAGE_H
#define TARNCTL_IMAGE_H

#include <tarnholm/interfaces.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pager.h"

namespace tarnctl {

// The pager's 64 KiB address space with the bytes a file covers.
struct MemoryImage {
  std::vector<BYTE> bytes = std::vector<BYTE>(0x10000, 0);
  std::vector<bool> covered = std::vector<bool>(0x10000, false);
  std::string text;    // the file's comment lines
  std::string sha256;  // digest of the file's bytes, the very bytes loaded
  uint32_t CoveredCount() const;
  // The covered addresses as blocks of at most maxBlock bytes, in address order.
  std::vector<Block> Blocks(uint32_t maxBlock) const;
};

// Reads an S19 file. The file is read once: its bytes are checked, hashed,
// and given to the S19 reader as a private copy, so a file that changes
// meanwhile cannot make the checks, the loaded image and the digest
// disagree. The records tell which addresses it covers (the copy is read
// twice with different fill bytes: an address that keeps the fill byte both
// times is not covered). A file with bad records, with
// no data records, without a valid end record, that breaks one of the rules
// in file_checks.h, or that cannot be read throws Error (exit 4).
MemoryImage LoadImage(const std::string& fileName);

// Writes `length` bytes from address `base` as an S19 file with the comment
// text and a header record. Throws Error (exit 4).
void SaveImage(const std::string& fileName, const std::string& text, uint32_t base,
               const BYTE* data, uint32_t length, const std::string& header);

}  // namespace tarnctl

#endif  // TARNCTL_IMAGE_H
