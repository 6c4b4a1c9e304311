// The fixture of the runtime's tests: a registry file of its own per test.
#ifndef TESTS_COMRT_TEST_UTIL_H
#define TESTS_COMRT_TEST_UTIL_H

#include <comrt/comrt.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <memory>
#include <string>

#include "scratch_dir.h"

namespace comrt_test {

// Each test gets its own registry file in a fresh directory.
class TempRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<testsupport::ScratchDir>("comrt-test-");
    dir_ = scratch_->Path().string();
    path_ = scratch_->File("registry");
    setenv("COMRT_REGISTRY", path_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("COMRT_REGISTRY");
    scratch_.reset();
  }

  // The default value of HKEY_CLASSES_ROOT\key, or "<missing>".
  static std::string ClassesValue(const std::string& key) {
    char value[1024];
    LONG size = sizeof value;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
      return "<missing>";
    return value;
  }

  // Runs regsvr with `args` (after the shell text `prefix`, such as
  // "umask 027;"); returns its exit status and keeps what it printed.
  int Regsvr(const std::string& args, const std::string& prefix = "") {
    const std::string out = dir_ + "/regsvr-out.txt";
    const std::string command = prefix + "'" REGSVR_PATH "' " + args + " >'" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    output_ = testsupport::ReadAll(out);
    std::remove(out.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // What the runtime says is wrong with the user's or the machine's file.
  static std::string Problem(bool machine) {
    char text[4096];
    const size_t n = comrt_RegistryProblem(machine ? TRUE : FALSE, text, sizeof text);
    return n < sizeof text ? std::string(text, n) : "<too long>";
  }

  std::unique_ptr<testsupport::ScratchDir> scratch_;
  std::string output_;  // what the last Regsvr printed
  std::string dir_;
  std::string path_;
};

}  // namespace comrt_test

#endif  // TESTS_COMRT_TEST_UTIL_H
