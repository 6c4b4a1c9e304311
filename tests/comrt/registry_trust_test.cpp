// Whose registry files the runtime trusts: a file that someone other than
// this process's user and root could change (root run with a user's
// environment, a folder others may write) is never written and its
// classes are never loaded; the machine's file stays readable for every
// user; a file that cannot be read is told apart from a damaged one.
//
// The cases with files of another user need root (CI runs as root) and
// are skipped otherwise; they act as uid 65534 where another user is meant.
#include <comrt/comrt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/comrt/test_util.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

constexpr uid_t kOtherUser = 65534;
const char kWidget[] = "{6B0E2F10-1C2D-4E5F-8A9B-0C1D2E3F4A5B}";

// The test component's class and ProgID as a registry file's lines.
std::string WidgetClass() {
  return std::string("[HKEY_CLASSES_ROOT\\ComrtTest.Widget\\CLSID]\n@=\"") + kWidget +
         "\"\n[HKEY_CLASSES_ROOT\\CLSID\\" + kWidget +
         "\\InprocServer32]\n@=\"" TEST_COMPONENT_PATH "\"\n";
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class RegistryTrust : public comrt_test::TempRegistry {
 protected:
  void SetUp() override {
    TempRegistry::SetUp();
    machine_ = dir_ + "/etc/comrt/registry";
    setenv("COMRT_MACHINE_REGISTRY", machine_.c_str(), 1);
    if (const char* home = std::getenv("HOME")) home_ = home;
  }
  void TearDown() override {
    unsetenv("COMRT_MACHINE_REGISTRY");
    setenv("HOME", home_.c_str(), 1);
    TempRegistry::TearDown();
  }
  void WriteMachine(const std::string& body) {
    std::filesystem::create_directories(dir_ + "/etc/comrt");
    WriteAll(machine_, "COMRT REGISTRY 1\n" + body);
  }
  // A folder with exactly `mode`, whatever the umask.
  std::string Folder(const std::string& name, mode_t mode) {
    const std::string path = dir_ + "/" + name;
    std::filesystem::create_directories(path);
    chmod(path.c_str(), mode);
    return path;
  }
  // Runs `f` in a child process as uid and gid 65534; returns what it
  // returned. The scratch folder is opened for that user to look into.
  std::string AsOtherUser(const std::function<std::string()>& f) {
    chmod(dir_.c_str(), 0755);
    int fds[2];
    if (pipe(fds) != 0) return "<no pipe>";
    const pid_t child = fork();
    if (child == 0) {
      close(fds[0]);
      std::string answer = "<setuid failed>";
      if (setgid(kOtherUser) == 0 && setuid(kOtherUser) == 0) answer = f();
      const ssize_t n = write(fds[1], answer.data(), answer.size());
      _exit(n == static_cast<ssize_t>(answer.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
      answer.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return answer;
  }
  static CLSID Widget() {
    CLSID clsid{};
    std::u16string text(kWidget, kWidget + sizeof kWidget - 1);
    CLSIDFromString(text.c_str(), &clsid);
    return clsid;
  }
  // CoCreateInstance of the test component's class.
  static HRESULT CreateWidget() {
    CoInitialize(nullptr);
    IUnknown* object = nullptr;
    const HRESULT hr = CoCreateInstance(Widget(), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                        reinterpret_cast<void**>(&object));
    if (object != nullptr) object->Release();
    CoFreeUnusedLibraries();
    CoUninitialize();
    return hr;
  }
  std::string machine_;
  std::string home_;
};

TEST_F(RegistryTrust, RootWithAUsersEnvironmentNeitherWritesNorLoadsTheirFile) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the files must belong to another user";
  // sudo -E: HOME is the user's, and so is everything below it.
  const std::string home = dir_ + "/home";
  const std::string folder = home + "/.config/comrt";
  const std::string file = folder + "/registry";
  std::filesystem::create_directories(folder);
  const std::string text = "COMRT REGISTRY 1\n" + WidgetClass() +
                           "[HKEY_CURRENT_USER\\Software\\Tarn\\Ports]\n\"COM2\"=\"/dev/pts/9\"\n";
  WriteAll(file, text);
  for (const std::string& p : {home, home + "/.config", folder, file})
    ASSERT_EQ(chown(p.c_str(), kOtherUser, kOtherUser), 0) << p;
  unsetenv("COMRT_REGISTRY");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);

  // The library the user's file names is never loaded.
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID(u"ComrtTest.Widget", &clsid), CO_E_CLASSSTRING);
  EXPECT_EQ(CreateWidget(), REGDB_E_CLASSNOTREG);
  // Nothing is written: not the file, not a lock beside it.
  EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Tarn\\X", REG_SZ, "x", 0),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadAll(file), text);
  EXPECT_FALSE(std::filesystem::exists(file + ".lock"));
  // The user's port map still names the device (a device the same user
  // could name on the command line).
  char device[64];
  ASSERT_EQ(comrt_ResolvePortName("COM2", device, sizeof device), ERROR_SUCCESS);
  EXPECT_STREQ(device, "/dev/pts/9");
  // The message names the folder, the owner and what to do.
  const std::string problem = Problem(false);
  EXPECT_NE(problem.find(file + " is not used"), std::string::npos) << problem;
  EXPECT_NE(problem.find("the folder " + folder + " belongs to uid 65534"), std::string::npos)
      << problem;
  EXPECT_NE(problem.find("sudo without -E"), std::string::npos) << problem;
  // regsvr says the same and leaves the file alone.
  EXPECT_EQ(Regsvr("'" TEST_COMPONENT_PATH "'"), 5) << output_;
  EXPECT_NE(output_.find("belongs to uid 65534"), std::string::npos) << output_;
  EXPECT_EQ(Regsvr("-u '" TEST_COMPONENT_PATH "'"), 5) << output_;
  EXPECT_EQ(ReadAll(file), text);
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kOtherUser) << "the user's file became root's";

  // What the machine registered is still found: harmless use goes on.
  WriteMachine(WidgetClass());
  EXPECT_EQ(CreateWidget(), S_OK);

  // A link the user puts in place of the file makes root create nothing.
  const std::string victim = dir_ + "/etc/created-by-root";
  std::remove(file.c_str());
  ASSERT_EQ(symlink(victim.c_str(), file.c_str()), 0);
  ASSERT_EQ(lchown(file.c_str(), kOtherUser, kOtherUser), 0);
  EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Tarn\\X", REG_SZ, "x", 0),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Regsvr("'" TEST_COMPONENT_PATH "'"), 5) << output_;
  EXPECT_FALSE(std::filesystem::exists(victim));

  // A file of another user in root's own folder is not root's either.
  const std::string own = dir_ + "/theirs";
  WriteAll(own, "COMRT REGISTRY 1\n" + WidgetClass());
  ASSERT_EQ(chown(own.c_str(), kOtherUser, kOtherUser), 0);
  setenv("COMRT_REGISTRY", own.c_str(), 1);
  setenv("COMRT_MACHINE_REGISTRY", "", 1);
  EXPECT_EQ(CreateWidget(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED);
  EXPECT_NE(Problem(false).find("the registry file " + own + " belongs to uid 65534"),
            std::string::npos)
      << Problem(false);
}

TEST_F(RegistryTrust, FilesOthersMayChangeAreNeitherWrittenNorUsed) {
  const std::string text = "COMRT REGISTRY 1\n" + WidgetClass();
  // The file's own folder writable by its group, by all, by all but sticky.
  for (const mode_t mode : {0770, 0703, 0777, 01777}) {
    const std::string folder = Folder("open" + std::to_string(mode), mode);
    const std::string file = folder + "/registry";
    WriteAll(file, text);
    setenv("COMRT_REGISTRY", file.c_str(), 1);
    EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>") << std::oct << mode;
    EXPECT_EQ(CreateWidget(), REGDB_E_CLASSNOTREG) << std::oct << mode;
    EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED)
        << std::oct << mode;
    EXPECT_EQ(ReadAll(file), text);
    EXPECT_NE(Problem(false).find("chmod go-w " + folder), std::string::npos) << Problem(false);
  }

  // A link in a safe place to a file in an open folder is not safe.
  ASSERT_EQ(symlink((dir_ + "/open" + std::to_string(0777) + "/registry").c_str(), path_.c_str()),
            0);
  setenv("COMRT_REGISTRY", path_.c_str(), 1);
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>");
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED);
  std::remove(path_.c_str());

  // The file itself writable by others; used again once it is not.
  setenv("COMRT_REGISTRY", path_.c_str(), 1);
  WriteAll(path_, text);
  chmod(path_.c_str(), 0646);
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>");
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED);
  EXPECT_NE(Problem(false).find("(mode 0646). Remove their write permission: chmod go-w " + path_),
            std::string::npos)
      << Problem(false);
  chmod(path_.c_str(), 0600);
  EXPECT_EQ(Problem(false), "");
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), kWidget);
  EXPECT_EQ(CreateWidget(), S_OK);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_SUCCESS);

  // A folder further up that all may write lets them replace the folders
  // below it, unless it is sticky as /tmp is. A folder that does not exist
  // yet is judged by the one it will be made in.
  const std::string above = Folder("above", 0777);
  const std::string nested = Folder("above/own", 0700) + "/registry";
  setenv("COMRT_REGISTRY", nested.c_str(), 1);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED);
  chmod(above.c_str(), 01777);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_SUCCESS);
  setenv("COMRT_REGISTRY", (above + "/new/registry").c_str(), 1);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "X", REG_SZ, "x", 0), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(std::filesystem::exists(above + "/new"));

  // The machine's file is held to the same rule.
  setenv("COMRT_REGISTRY", path_.c_str(), 1);
  std::remove(path_.c_str());
  WriteMachine(WidgetClass());
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), kWidget);
  chmod((dir_ + "/etc/comrt").c_str(), 0777);
  EXPECT_EQ(ClassesValue("ComrtTest.Widget\\CLSID"), "<missing>");
  EXPECT_EQ(CreateWidget(), REGDB_E_CLASSNOTREG);
  EXPECT_NE(Problem(true).find("the machine registry " + machine_ + " is not used"),
            std::string::npos)
      << Problem(true);
}

TEST_F(RegistryTrust, MachineRegistryIsReadableForEveryUserWhateverTheUmask) {
  ASSERT_EQ(Regsvr("--system -s '" TEST_COMPONENT_PATH "'", "umask 077;"), 0) << output_;
  EXPECT_EQ(Mode(machine_), 0644u);
  EXPECT_EQ(Mode(dir_ + "/etc/comrt"), 0755u);
  EXPECT_EQ(Mode(dir_ + "/etc"), 0755u);
  // A file that an earlier write left closed to others is opened again.
  chmod(machine_.c_str(), 0600);
  ASSERT_EQ(Regsvr("--system -s -u '" TEST_COMPONENT_PATH "'", "umask 027;"), 0) << output_;
  EXPECT_EQ(Mode(machine_), 0644u);
  ASSERT_EQ(Regsvr("--system -s '" TEST_COMPONENT_PATH "'", "umask 027;"), 0) << output_;
  EXPECT_EQ(Mode(machine_), 0644u);
  if (geteuid() != 0) return;  // reading it as another user needs root
  EXPECT_EQ(AsOtherUser([] { return ClassesValue("ComrtTest.Widget\\CLSID"); }), kWidget);
}

TEST_F(RegistryTrust, MachineRegistryThatCannotBeReadIsToldApartFromADamagedOne) {
  char value[64];
  LONG size = sizeof value;
  CLSID clsid{};
  // A folder in the file's place.
  std::filesystem::create_directories(machine_);
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Other", value, &size), ERROR_CANTREAD);
  EXPECT_EQ(CLSIDFromProgID(u"Other", &clsid), REGDB_E_READREGDB);
  EXPECT_EQ(Problem(true).rfind("cannot read the machine registry " + machine_ + ": ", 0), 0u)
      << Problem(true);
  EXPECT_EQ(Problem(false), "") << "the user's file is fine";
  // A FIFO in its place is reported at once, never waited on.
  std::filesystem::remove(machine_);
  ASSERT_EQ(mkfifo(machine_.c_str(), 0644), 0);
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Other", value, &size), ERROR_CANTREAD);
  EXPECT_NE(Problem(true).find("not a plain file"), std::string::npos) << Problem(true);
  // Damaged text is damaged.
  std::filesystem::remove(machine_);
  WriteAll(machine_, "not a registry\n");
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "Other", value, &size), ERROR_BADDB);
  EXPECT_EQ(CLSIDFromProgID(u"Other", &clsid), REGDB_E_READREGDB);
  EXPECT_NE(Problem(true).find("the machine registry " + machine_ + " is damaged"),
            std::string::npos)
      << Problem(true);
  // The same for the user's own file.
  WriteAll(path_, "not a registry either\n");
  EXPECT_NE(Problem(false).find("the registry file " + path_ + " is damaged"), std::string::npos)
      << Problem(false);
  std::remove(path_.c_str());

  if (geteuid() != 0) return;  // a file root cannot read does not exist
  WriteMachine(WidgetClass());
  chmod(machine_.c_str(), 0600);
  chmod((dir_ + "/etc").c_str(), 0755);
  const std::string seen = AsOtherUser([] {
    char text[64];
    LONG n = sizeof text;
    return std::to_string(RegQueryValueA(HKEY_CLASSES_ROOT, "ComrtTest.Widget\\CLSID", text, &n)) +
           "|" + Problem(true);
  });
  EXPECT_EQ(seen, std::to_string(ERROR_CANTREAD) + "|cannot read the machine registry " + machine_ +
                      ": Permission denied; the administrator must make it readable for every "
                      "user (chmod 644)");
  // A user's file that root wrote with the user's environment, in the
  // days before the trust rule: the user is told how to get it back.
  const std::string folder = Folder("home", 0755);
  ASSERT_EQ(chown(folder.c_str(), kOtherUser, kOtherUser), 0);
  const std::string theirs = folder + "/registry";
  WriteAll(theirs, "COMRT REGISTRY 1\n");
  chmod(theirs.c_str(), 0600);
  setenv("COMRT_REGISTRY", theirs.c_str(), 1);
  const std::string user = AsOtherUser([] {
    char text[64];
    LONG n = sizeof text;
    return std::to_string(RegQueryValueA(HKEY_CURRENT_USER, "Software", text, &n)) + "|" +
           Problem(false);
  });
  EXPECT_EQ(user, std::to_string(ERROR_CANTREAD) + "|cannot read the registry file " + theirs +
                      ": Permission denied; it belongs to uid 0, not to you: give it back with "
                      "sudo chown 65534 " +
                      theirs);
}

}  // namespace
