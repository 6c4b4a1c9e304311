// The regsvr tool: exit codes and the path it registers.
#include <comrt/comrt.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "tests/comrt/test_util.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

class Regsvr : public comrt_test::TempRegistry {
 protected:
  // Runs regsvr in `cwd` with the arguments; returns its exit status and
  // keeps what it printed.
  int Run(const std::string& args, const std::string& cwd = "/") {
    const std::string out = dir_ + "/out.txt";
    const std::string command =
        "cd '" + cwd + "' && '" REGSVR_PATH "' " + args + " >'" + out + "' 2>&1";
    const int status = std::system(command.c_str());
    output_ = ReadAll(out);
    std::remove(out.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST_F(Regsvr, RegistersByAbsolutePath) {
  // A copy of the component under a relative name.
  std::filesystem::copy_file(TEST_COMPONENT_PATH, dir_ + "/widget.so");
  ASSERT_EQ(Run("widget.so", dir_), 0) << output_;
  EXPECT_NE(output_.find("succeeded"), std::string::npos) << output_;
  char real[PATH_MAX];
  ASSERT_NE(realpath((dir_ + "/widget.so").c_str(), real), nullptr);
  EXPECT_EQ(ClassesValue("CLSID\\{6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}\\InprocServer32"), real);
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "{6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}");

  // Found from anywhere: create it in this process, whose directory differs.
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"ComrtTest.Widget", &clsid), S_OK);
  IUnknown* object = nullptr;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  if (object != nullptr) object->Release();
  CoFreeUnusedLibraries();
  CoUninitialize();

  EXPECT_EQ(Run("-s '" + dir_ + "/widget.so'"), 0);
  EXPECT_EQ(output_, "");
}

TEST_F(Regsvr, FailuresHaveTheirOwnExitCodes) {
  EXPECT_EQ(Run(""), 1);
  EXPECT_NE(output_.find("usage"), std::string::npos);
  EXPECT_EQ(Run("-x lib.so"), 1);

  EXPECT_EQ(Run("'" + dir_ + "/missing.so'"), 2);
  EXPECT_NE(output_.find("missing.so"), std::string::npos) << output_;
  WriteAll(dir_ + "/text.so", "not a library");
  EXPECT_EQ(Run("'" + dir_ + "/text.so'"), 2);
  EXPECT_NE(output_.find("cannot load"), std::string::npos) << output_;

  EXPECT_EQ(Run("'" PLAIN_MODULE_PATH "'"), 3);
  EXPECT_NE(output_.find("DllRegisterServer"), std::string::npos) << output_;

  setenv("TEST_COMPONENT_FAIL_REGISTER", "1", 1);
  EXPECT_EQ(Run("'" TEST_COMPONENT_PATH "'"), 4);
  unsetenv("TEST_COMPONENT_FAIL_REGISTER");
  EXPECT_NE(output_.find("0x80004005"), std::string::npos) << output_;

  const std::string damaged = "this is not the registry\n";
  WriteAll(path_, damaged);
  EXPECT_EQ(Run("'" TEST_COMPONENT_PATH "'"), 5);
  EXPECT_NE(output_.find(path_), std::string::npos) << output_;
  EXPECT_EQ(ReadAll(path_), damaged);
}

}  // namespace
