// The machine's registry beside the user's: lookup order, merged
// enumeration, a damaged machine file, and regsvr's --system and -u.
#include <comrt/comrt.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/comrt/test_util.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

const char kWidget[] = "{6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}";

class MachineRegistry : public comrt_test::TempRegistry {
 protected:
  void SetUp() override {
    TempRegistry::SetUp();
    machine_ = dir_ + "/etc/comrt/registry";
    setenv("COMRT_MACHINE_REGISTRY", machine_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("COMRT_MACHINE_REGISTRY");
    TempRegistry::TearDown();
  }
  void WriteMachine(const std::string& body) {
    std::filesystem::create_directories(dir_ + "/etc/comrt");
    WriteAll(machine_, "COMRT REGISTRY 1\n" + body);
  }
  std::string machine_;
};

TEST_F(MachineRegistry, UserFileFirstThenMachineFile) {
  WriteMachine(
      "[HKEY_CLASSES_ROOT\\Machine.Only\\CLSID]\n@=\"{M}\"\n"
      "[HKEY_CLASSES_ROOT\\Both\\CLSID]\n@=\"{FROM-MACHINE}\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Tarn]\n\"Where\"=\"machine\"\n"
      "[HKEY_CURRENT_USER\\Software\\Tarn\\Ports]\n\"COM1\"=\"/dev/machine\"\n");
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Both\\CLSID", REG_SZ, "{FROM-USER}", 0),
            ERROR_SUCCESS);
  EXPECT_EQ(ClassesValue("Machine.Only\\CLSID"), "{M}");
  EXPECT_EQ(ClassesValue("Both\\CLSID"), "{FROM-USER}");
  EXPECT_EQ(ClassesValue("Neither\\CLSID"), "<missing>");

  // A handle opened on a machine key reads its named values.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Tarn", &key), ERROR_SUCCESS);
  char value[64];
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "Where", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, "machine");
  RegCloseKey(key);

  // The current user's keys are the user's file alone.
  char device[64];
  ASSERT_EQ(comrt_ResolvePortName("COM1", device, sizeof device), ERROR_SUCCESS);
  EXPECT_STREQ(device, "/dev/ttyS0");

  // Enumeration lists the keys of both files, each name once.
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, nullptr, &key), ERROR_SUCCESS);
  char name[64];
  std::string names;
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i)
    names += std::string(name) + ";";
  EXPECT_EQ(names, "Both;Machine.Only;");

  // Without a machine file (set but empty) only the user's classes exist.
  setenv("COMRT_MACHINE_REGISTRY", "", 1);
  EXPECT_EQ(ClassesValue("Machine.Only\\CLSID"), "<missing>");
}

TEST_F(MachineRegistry, DamagedMachineFileIsReportedAndNeverWritten) {
  const std::string damaged = "COMRT REGISTRY 1\n[HKEY_CLASSES_ROOT\\X]\nnot a line\n";
  std::filesystem::create_directories(dir_ + "/etc/comrt");
  WriteAll(machine_, damaged);
  // What the user's file answers is still found; what only the machine
  // could answer is an error, not "not registered".
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "Mine\\CLSID", REG_SZ, "{U}", 0), ERROR_SUCCESS);
  EXPECT_EQ(ClassesValue("Mine\\CLSID"), "{U}");
  char value[64];
  LONG size = sizeof value;
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Other\\CLSID", value, &size), ERROR_BADDB);
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"Other", &clsid), REGDB_E_READREGDB);

  // A user's registration goes to the user's file; so does unregistration.
  EXPECT_EQ(Regsvr("'" TEST_COMPONENT_PATH "'"), 0) << output_;
  EXPECT_EQ(Regsvr("-u '" TEST_COMPONENT_PATH "'"), 0) << output_;
  // The administrator's regsvr reports the damage and leaves it.
  EXPECT_EQ(Regsvr("--system '" TEST_COMPONENT_PATH "'"), 5) << output_;
  EXPECT_NE(output_.find(machine_), std::string::npos) << output_;
  EXPECT_EQ(Regsvr("--system -u '" TEST_COMPONENT_PATH "'"), 5) << output_;
  EXPECT_EQ(ReadAll(machine_), damaged);
}

TEST_F(MachineRegistry, RegsvrSystemRegistersForEveryUserAndUnregisters) {
  ASSERT_EQ(Regsvr("--system -s '" TEST_COMPONENT_PATH "'"), 0) << output_;
  EXPECT_EQ(ReadAll(path_), "");  // the user's file is not created
  struct stat st {};
  ASSERT_EQ(stat(machine_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(stat((dir_ + "/etc/comrt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), kWidget);

  // A user's unregistration cannot reach the machine's classes.
  EXPECT_EQ(Regsvr("-u '" TEST_COMPONENT_PATH "'"), 0) << output_;
  EXPECT_NE(output_.find("0 class(es)"), std::string::npos) << output_;
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), kWidget);

  // The administrator's removes the class, its ProgID and the empty CLSID key.
  ASSERT_EQ(Regsvr("--system -u '" TEST_COMPONENT_PATH "'"), 0) << output_;
  EXPECT_NE(output_.find("1 class(es)"), std::string::npos) << output_;
  EXPECT_EQ(ClassesValue("ComrtTest.Widget"), "<missing>");
  EXPECT_EQ(ClassesValue(std::string("CLSID\\") + kWidget), "<missing>");
  EXPECT_EQ(ReadAll(machine_).find("[HKEY_CLASSES_ROOT\\"), std::string::npos) << ReadAll(machine_);
}

TEST_F(MachineRegistry, UnregisteringLeavesOtherLibrariesAlone) {
  WriteAll(path_,
           "COMRT REGISTRY 1\n"
           "[HKEY_CLASSES_ROOT\\Other.Thing\\CLSID]\n@=\"{O}\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{O}\\ProgID]\n@=\"Other.Thing\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{O}\\InprocServer32]\n@=\"/opt/other.so\"\n"
           "[HKEY_CLASSES_ROOT\\Gone.Thing\\CLSID]\n@=\"{G}\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{G}\\ProgID]\n@=\"Gone.Thing\"\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{G}\\InprocServer32]\n@=\"/opt/gone.so\"\n");
  // The library's file no longer exists: its full path still unregisters it.
  ASSERT_EQ(Regsvr("-u /opt/gone.so"), 0) << output_;
  EXPECT_EQ(ClassesValue("Gone.Thing\\CLSID"), "<missing>");
  EXPECT_EQ(ClassesValue("CLSID\\{G}\\InprocServer32"), "<missing>");
  EXPECT_EQ(ClassesValue("Other.Thing\\CLSID"), "{O}");
  EXPECT_EQ(ClassesValue("CLSID\\{O}\\InprocServer32"), "/opt/other.so");
}

TEST_F(MachineRegistry, UnregisteringRemovesWhatNamesTheLibraryAndNothingElse) {
  const std::string before =
      "COMRT REGISTRY 1\n"
      "[HKEY_CLASSES_ROOT\\Gone.Thing\\CLSID]\n@=\"{G}\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{G}\\ProgID]\n@=\"Gone.Thing\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{G}\\InprocServer32]\n@=\"/opt/gone.so\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{G}\\Implemented Categories\\{C}\\Deeper]\n@=\"x\"\n"
      // A second class of the library whose ProgID was taken over since.
      "[HKEY_CLASSES_ROOT\\CLSID\\{H}\\ProgID]\n@=\"Shared.Thing\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{H}\\InprocServer32]\n@=\"/opt/gone.so\"\n"
      "[HKEY_CLASSES_ROOT\\Shared.Thing\\CLSID]\n@=\"{O}\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{O}\\ProgID]\n@=\"Shared.Thing\"\n"
      "[HKEY_CLASSES_ROOT\\CLSID\\{O}\\InprocServer32]\n@=\"/opt/other.so\"\n"
      // Names that only begin like the library's.
      "[HKEY_CLASSES_ROOT\\CLSID\\{P}\\InprocServer32]\n@=\"/opt/gone.so.1\"\n";
  WriteAll(path_, before);
  // A relative name of a library that is gone names nothing: refused.
  EXPECT_EQ(Regsvr("-u gone.so"), 2) << output_;
  EXPECT_EQ(ReadAll(path_), before);

  ASSERT_EQ(Regsvr("-u /opt/gone.so"), 0) << output_;
  EXPECT_NE(output_.find("2 class(es) of /opt/gone.so unregistered"), std::string::npos) << output_;
  const std::string after = ReadAll(path_);
  EXPECT_EQ(after.find("{G}"), std::string::npos) << after;
  EXPECT_EQ(after.find("{H}"), std::string::npos) << after;
  EXPECT_EQ(after.find("Gone.Thing"), std::string::npos) << after;
  EXPECT_EQ(ClassesValue("Shared.Thing\\CLSID"), "{O}");
  EXPECT_EQ(ClassesValue("CLSID\\{O}\\InprocServer32"), "/opt/other.so");
  EXPECT_EQ(ClassesValue("CLSID\\{P}\\InprocServer32"), "/opt/gone.so.1");
  // Once more: nothing left to remove, nothing changed.
  ASSERT_EQ(Regsvr("-u /opt/gone.so"), 0) << output_;
  EXPECT_NE(output_.find("0 class(es)"), std::string::npos) << output_;
  EXPECT_EQ(ReadAll(path_), after);

  // A library named through a link is registered and removed by its real
  // path.
  const std::string link = dir_ + "/link.so";
  ASSERT_EQ(symlink(TEST_COMPONENT_PATH, link.c_str()), 0);
  ASSERT_EQ(Regsvr("-s '" + link + "'"), 0) << output_;
  EXPECT_NE(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>");
  ASSERT_EQ(Regsvr("-u '" + link + "'"), 0) << output_;
  EXPECT_NE(output_.find("1 class(es)"), std::string::npos) << output_;
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>");
  EXPECT_EQ(ReadAll(path_), after);
}

}  // namespace
