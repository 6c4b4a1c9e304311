// Helpers of the S-record tests: the sample files under data/, beside the
// shared scratch folder and whole-file reads and writes (scratch_dir.h).
#ifndef TESTS_SRECORD_TEST_UTIL_H
#define TESTS_SRECORD_TEST_UTIL_H

#include <string>

#include "scratch_dir.h"

namespace srtest {

inline std::string DataFile(const std::string& name) {
  return std::string(SRECORD_TEST_DATA) + "/" + name;
}

}  // namespace srtest

#endif  // TESTS_SRECORD_TEST_UTIL_H
