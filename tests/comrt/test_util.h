// Shared helpers of the runtime's tests.
#ifndef TESTS_COMRT_TEST_UTIL_H
#define TESTS_COMRT_TEST_UTIL_H

#include <comrt/comrt.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace comrt_test {

// Each test gets its own registry file in a fresh directory.
class TempRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/comrt-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/registry";
    setenv("COMRT_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("COMRT_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
  }

  // The default value of HKEY_CLASSES_ROOT\key, or "<missing>".
  static std::string ClassesValue(const std::string& key) {
    char value[1024];
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
      return "<missing>";
    return value;
  }

  std::string dir_;
  std::string path_;
};

}  // namespace comrt_test

#endif  // TESTS_COMRT_TEST_UTIL_H
