// Helpers of the S-record tests: a scratch folder per test and whole-file
// reads and writes.
#ifndef TESTS_SRECORD_TEST_UTIL_H
#define TESTS_SRECORD_TEST_UTIL_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace srtest {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "srecord_test_XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& Path() const { return path_; }
  // Number of entries in the folder.
  size_t Count() const {
    size_t n = 0;
    for (auto it = fs::directory_iterator(path_); it != fs::directory_iterator(); ++it) ++n;
    return n;
  }

 private:
  fs::path path_;
};

inline std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteAll(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string DataFile(const std::string& name) {
  return std::string(SRECORD_TEST_DATA) + "/" + name;
}

}  // namespace srtest

#endif  // TESTS_SRECORD_TEST_UTIL_H
