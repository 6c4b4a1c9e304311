// The sample identities the simulated pagers of the tests report. Each field
// counts up by one from its first byte, so a byte out of place shows. Header
// only; link th_testsupport and pagersim_core.
#ifndef TESTS_SUPPORT_SAMPLE_PAGERS_H
#define TESTS_SUPPORT_SAMPLE_PAGERS_H

#include <cstdint>

#include "tools/pagersim/pager.h"

namespace testsupport {

// An identity whose info block counts from `info`, first record from
// `first`, second record from `second`, with the status byte `status`.
inline pagersim::PagerIdentity CountingIdentity(uint8_t info, uint8_t first, uint8_t second,
                                                uint8_t status) {
  pagersim::PagerIdentity id;
  for (size_t i = 0; i < id.infoBlock.size(); ++i) id.infoBlock[i] = static_cast<uint8_t>(info + i);
  for (size_t i = 0; i < id.firstRecord.size(); ++i)
    id.firstRecord[i] = static_cast<uint8_t>(first + i);
  for (size_t i = 0; i < id.secondRecord.size(); ++i)
    id.secondRecord[i] = static_cast<uint8_t>(second + i);
  id.status = status;
  return id;
}

// The three fields back to back: 0x10..0x1F, 0x20..0x29, 0x30..0x39.
inline pagersim::PagerIdentity AdjacentIdentity(uint8_t status = 'O') {
  return CountingIdentity(0x10, 0x20, 0x30, status);
}

// The fields apart: 0x10..0x1F, 0x30..0x39, 0x50..0x59.
inline pagersim::PagerIdentity SpreadIdentity(uint8_t status = 'O') {
  return CountingIdentity(0x10, 0x30, 0x50, status);
}

// Printable: "@ABCDEFGHIJKLMNO", "abcdefghij", "ABCDEFGHIJ".
inline pagersim::PagerIdentity LetterIdentity(uint8_t status = 'O') {
  return CountingIdentity(0x40, 'a', 'A', status);
}

}  // namespace testsupport

#endif  // TESTS_SUPPORT_SAMPLE_PAGERS_H
