// RegisteredComponents: the global test environment of a test program that
// creates the components through COM as a client would. It gives the
// process a registry of its own (COMRT_REGISTRY in a scratch folder),
// registers the given libraries there with regsvr and initialises COM; the
// end undoes all of it. Header only; link th_testsupport, gtest and comrt.
#ifndef TESTS_SUPPORT_REGISTERED_COMPONENTS_H
#define TESTS_SUPPORT_REGISTERED_COMPONENTS_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <tarnholm/com.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "scratch_dir.h"

namespace testsupport {

class RegisteredComponents : public ::testing::Environment {
 public:
  // `regsvr`: the registration tool; `libraries`: what it registers.
  RegisteredComponents(std::string regsvr, std::vector<std::string> libraries)
      : regsvr_(std::move(regsvr)), libraries_(std::move(libraries)) {}

  void SetUp() override {
    dir_ = std::make_unique<ScratchDir>("th_registry_");
    setenv("COMRT_REGISTRY", dir_->File("registry").c_str(), 1);
    for (const std::string& library : libraries_) {
      const std::string cmd = regsvr_ + " " + library + " >/dev/null";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    dir_.reset();
  }

 private:
  std::string regsvr_;
  std::vector<std::string> libraries_;
  std::unique_ptr<ScratchDir> dir_;
};

}  // namespace testsupport

#endif  // TESTS_SUPPORT_REGISTERED_COMPONENTS_H
