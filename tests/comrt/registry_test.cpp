// The registry file: keys and values, persistence, crash safety, damaged
// files, and the port map.
#include <comrt/comrt.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/comrt/test_util.h"

namespace {

using testsupport::ReadAll;
using testsupport::WriteAll;

using Registry = comrt_test::TempRegistry;

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// The device a port name resolves to, or "error N" when it does not resolve.
std::string Resolved(const char* name) {
  char out[64];
  const LONG rc = comrt_ResolvePortName(name, out, sizeof out);
  return rc == ERROR_SUCCESS ? std::string(out) : "error " + std::to_string(rc);
}

// Opens the port map key and maps port to device as a named value of it;
// the caller closes the key.
HKEY MapAsNamedValue(const char* port, const char* device) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Tarn\\Ports", &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, port, 0, REG_SZ, reinterpret_cast<const BYTE*>(device),
                           static_cast<DWORD>(std::strlen(device) + 1)),
            ERROR_SUCCESS);
  return key;
}

TEST_F(Registry, KeysAndDefaultValuesIgnoreLetterCase) {
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InProcServer32", REG_SZ, "/lib/a.so", 0),
            ERROR_SUCCESS);
  EXPECT_EQ(ClassesValue("clsid\\{x}\\InprocServer32"), "/lib/a.so");
  // The name keeps the spelling it was created with.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID\\{x}", &key), ERROR_SUCCESS);
  char name[64];
  ASSERT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "InProcServer32");
  EXPECT_EQ(RegEnumKeyA(key, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyA(key, 0, name, 5), ERROR_MORE_DATA);
  // A key without a default value reads as empty; a missing key is missing.
  char value[16] = "junk";
  LONG size = sizeof value;
  EXPECT_EQ(RegQueryValueA(key, nullptr, value, &size), ERROR_SUCCESS);
  EXPECT_STREQ(value, "");
  EXPECT_EQ(size, 1);
  size = sizeof value;
  EXPECT_EQ(RegQueryValueA(key, "Nope", value, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyA(key, nullptr, &key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, SizeContractOfQueries) {
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\T", REG_SZ, "abcdef", 3), ERROR_SUCCESS);
  // The size argument is ignored: the whole string is stored.
  LONG size = 0;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\T", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 7);
  char small[4] = "xyz";
  size = sizeof small;
  EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\T", small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7);
  EXPECT_STREQ(small, "xyz");
  EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\T", 4 /* REG_DWORD */, "x", 1),
            ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, BadPathsAndHandles) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "a\\\\b", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "\\a", &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "a\nb", &key), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), &key),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "a", nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueA(reinterpret_cast<HKEY>(&key), "a", REG_SZ, "v", 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(access(path_.c_str(), F_OK), -1) << "nothing was written";
}

TEST_F(Registry, NamedValuesAndDeletion) {
  const char device[] = "/dev/ttyUSB0";
  HKEY key = MapAsNamedValue("COM1", device);
  ASSERT_NE(key, nullptr);
  char value[64];
  DWORD size = sizeof value, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "com1", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(value, device);
  EXPECT_EQ(size, sizeof device);
  // The unset default value is absent for the Ex call.
  size = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueA(key, "COM1"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "COM1"), ERROR_FILE_NOT_FOUND);

  // A key with subkeys stays; a deleted key's handle says so.
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyA(key, "Child", &child), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Tarn"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(key, "Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(key, "Child"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExA(child, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyA(key, "Child", &child), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(child, nullptr);
  RegCloseKey(key);
}

TEST_F(Registry, AwkwardTextSurvivesTheFile) {
  const std::string awkward = "quote\" back\\slash [bracket] \t tab\nnewline \x01 =@ \xC3\xA9";
  ASSERT_EQ(
      RegSetValueA(HKEY_CURRENT_USER, "Software\\[odd] name=\"x\"", REG_SZ, awkward.c_str(), 0),
      ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "Software\\[odd] name=\"x\"", &key), ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExA(key, awkward.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>("named"), 6),
      ERROR_SUCCESS);
  char value[128];
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValueA(key, nullptr, value, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(value), awkward);
  DWORD dsize = sizeof value;
  ASSERT_EQ(RegQueryValueExA(key, awkward.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                             &dsize),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, "named");
  RegCloseKey(key);
  // One line per item: the newline and control character were escaped.
  const std::string text = ReadAll(path_);
  EXPECT_NE(text.find("\\n"), std::string::npos);
  EXPECT_EQ(text.find('\x01'), std::string::npos);
}

TEST_F(Registry, DamagedFileIsReportedAndNeverOverwritten) {
  const std::string damaged = "COMRT REGISTRY 1\n[HKEY_CLASSES_ROOT\\A]\n@=\"unterminated\n";
  WriteAll(path_, damaged);
  EXPECT_EQ(ClassesValue("A"), "<missing>");
  LONG size = 0;
  EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "A", nullptr, &size), ERROR_BADDB);
  EXPECT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "B", REG_SZ, "b", 0), ERROR_BADDB);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "C", &key), ERROR_BADDB);
  EXPECT_EQ(ReadAll(path_), damaged);

  for (const std::string& other :
       {std::string("not a registry\n"), std::string("COMRT REGISTRY 1\n@=\"no key\"\n"),
        std::string("COMRT REGISTRY 1\n[HKEY_NOWHERE\\A]\n"),
        std::string("COMRT REGISTRY 1\n[HKEY_CURRENT_USER\\A]\n@=\"x\" trailing\n"),
        std::string("COMRT REGISTRY 1\n[HKEY_CURRENT_USER\\A]\n@=\"\\x00\"\n"),
        std::string("COMRT REGISTRY 1\n[HKEY_CURRENT_USER\\A\\\\B]\n"),
        std::string("COMRT REGISTRY 1\n\0\n", 19)}) {
    WriteAll(path_, other);
    EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "D", REG_SZ, "d", 0), ERROR_BADDB) << other;
    EXPECT_EQ(ReadAll(path_), other);
  }

  // A path that cannot be read as a file (here a directory) is reported
  // too, as unreadable rather than damaged.
  std::remove(path_.c_str());
  ASSERT_EQ(mkdir(path_.c_str(), 0700), 0);
  EXPECT_EQ(RegSetValueA(HKEY_CURRENT_USER, "D", REG_SZ, "d", 0), ERROR_CANTREAD);
  EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, nullptr, &key), ERROR_CANTREAD);
}

TEST_F(Registry, HandEditedFileIsRead) {
  WriteAll(path_,
           "# comment\n\n  COMRT REGISTRY 1  \r\n; another\n[hkey_current_user\\Software\\X]\r\n"
           "  @=\"v\\x41\"  \n\"Name\"=\"w\"\n");
  char value[16];
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "software\\x", value, &size), ERROR_SUCCESS);
  EXPECT_STREQ(value, "vA");
}

TEST_F(Registry, CrashMidWriteLeavesTheOldFileIntact) {
  // A registry big enough that rewriting it takes more than the file-size
  // limit the child gets: the child is killed (SIGXFSZ) while writing.
  std::string text = "COMRT REGISTRY 1\n";
  for (int i = 0; i < 200; ++i)
    text += "[HKEY_CURRENT_USER\\Software\\Bulk\\Key" + std::to_string(i) + "]\n@=\"" +
            std::string(40, static_cast<char>('a' + i % 26)) + "\"\n";
  WriteAll(path_, text);
  const std::string before = ReadAll(path_);
  ASSERT_GT(before.size(), 8192u);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_DFL);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    RegSetValueA(HKEY_CURRENT_USER, "Software\\Late", REG_SZ, "late", 0);
    _exit(0);  // not reached when the limit works
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child should have died mid-write";
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);

  // The old file is byte for byte the same and still reads; the dead
  // writer's temporary file is left over.
  EXPECT_EQ(ReadAll(path_), before);
  char value[64];
  LONG size = sizeof value;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Bulk\\Key27", value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(value), std::string(40, 'b'));
  size = sizeof value;
  EXPECT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Late", value, &size),
            ERROR_FILE_NOT_FOUND);
  bool stray = false;
  for (const std::string& name : DirectoryEntries(dir_))
    if (name.rfind("registry.tmp.", 0) == 0) stray = true;
  EXPECT_TRUE(stray);

  // The next write succeeds and clears the leftover.
  ASSERT_EQ(RegSetValueA(HKEY_CURRENT_USER, "Software\\Late", REG_SZ, "late", 0), ERROR_SUCCESS);
  for (const std::string& name : DirectoryEntries(dir_))
    EXPECT_EQ(name.rfind("registry.tmp.", 0), std::string::npos) << name;
  size = sizeof value;
  ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, "Software\\Bulk\\Key199", value, &size),
            ERROR_SUCCESS);
}

TEST_F(Registry, ConcurrentWritersLoseNothing) {
  // Each process rewrites the whole file per change; the lock must keep
  // one writer from replacing another's change with an older tree.
  constexpr int kWriters = 4, kKeys = 8;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int failures = 0;
      for (int k = 0; k < kKeys; ++k) {
        const std::string key = "Software\\W" + std::to_string(w) + "\\K" + std::to_string(k);
        if (RegSetValueA(HKEY_CURRENT_USER, key.c_str(), REG_SZ, key.c_str(), 0) != ERROR_SUCCESS)
          ++failures;
      }
      _exit(failures);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w)
    for (int k = 0; k < kKeys; ++k) {
      const std::string key = "Software\\W" + std::to_string(w) + "\\K" + std::to_string(k);
      char value[64];
      LONG size = sizeof value;
      ASSERT_EQ(RegQueryValueA(HKEY_CURRENT_USER, key.c_str(), value, &size), ERROR_SUCCESS) << key;
      EXPECT_EQ(std::string(value), key);
    }
}

TEST_F(Registry, CreatesMissingDirectoriesAndFollowsTheEnvironment) {
  const std::string nested = dir_ + "/a/b/registry";
  setenv("COMRT_REGISTRY", nested.c_str(), 1);
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, "K", REG_SZ, "v", 0), ERROR_SUCCESS);
  EXPECT_EQ(access(nested.c_str(), R_OK), 0);
  char path[512];
  const size_t n = comrt_RegistryPath(path, sizeof path);
  EXPECT_EQ(std::string(path, n), nested);
  EXPECT_EQ(comrt_RegistryPath(path, 3), nested.size() + 1);

  unsetenv("COMRT_REGISTRY");
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  comrt_RegistryPath(path, sizeof path);
  EXPECT_EQ(std::string(path), dir_ + "/comrt/registry");
  unsetenv("XDG_CONFIG_HOME");
}

TEST_F(Registry, UnusableEnvironmentValuesArePassedOver) {
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  const passwd* pw = getpwuid(geteuid());
  ASSERT_NE(pw, nullptr);
  const std::string account = pw->pw_dir;
  auto path = [] {
    char text[512];
    const size_t n = comrt_RegistryPath(text, sizeof text);
    return n < sizeof text ? std::string(text, n) : std::string("<too long>");
  };
  // An empty COMRT_REGISTRY names no file; a relative XDG_CONFIG_HOME is
  // not a base folder (it would depend on the current folder).
  setenv("COMRT_REGISTRY", "", 1);
  setenv("XDG_CONFIG_HOME", "relative/config", 1);
  setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(path(), dir_ + "/.config/comrt/registry");
  // No usable HOME: the account's home folder.
  setenv("HOME", "", 1);
  EXPECT_EQ(path(), account + "/.config/comrt/registry");
  unsetenv("HOME");
  EXPECT_EQ(path(), account + "/.config/comrt/registry");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);
}

TEST_F(Registry, WritesThroughASymbolicLinkAndCreatesThePrivateFileWithTheUmask) {
  // The registry lives elsewhere; COMRT_REGISTRY names a relative link to it.
  ASSERT_EQ(mkdir((dir_ + "/real").c_str(), 0700), 0);
  const std::string link = dir_ + "/link";
  ASSERT_EQ(symlink("real/registry", link.c_str()), 0);
  setenv("COMRT_REGISTRY", link.c_str(), 1);
  const mode_t old = umask(077);
  const LONG first = RegSetValueA(HKEY_CLASSES_ROOT, "A", REG_SZ, "1", 0);
  umask(027);
  const LONG second = RegSetValueA(HKEY_CLASSES_ROOT, "B", REG_SZ, "2", 0);
  umask(old);
  ASSERT_EQ(first, ERROR_SUCCESS);
  ASSERT_EQ(second, ERROR_SUCCESS);
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(stat((dir_ + "/real/registry").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u & ~077u) << std::oct << st.st_mode;
  EXPECT_NE(ReadAll(dir_ + "/real/registry").find("HKEY_CLASSES_ROOT\\B]"), std::string::npos);
  EXPECT_EQ(ClassesValue("A"), "1");

  // A new file is never more open than 0600 whatever the umask.
  setenv("COMRT_REGISTRY", path_.c_str(), 1);
  const mode_t open = umask(0);
  const LONG third = RegSetValueA(HKEY_CLASSES_ROOT, "C", REG_SZ, "3", 0);
  umask(open);
  ASSERT_EQ(third, ERROR_SUCCESS);
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << std::oct << st.st_mode;
}

TEST_F(Registry, PortNamesResolveThroughTheMap) {
  char out[64];
  EXPECT_EQ(Resolved("COM1"), "/dev/ttyS0");
  EXPECT_EQ(Resolved("com12:"), "/dev/ttyS11");
  EXPECT_EQ(Resolved("\\\\.\\COM3"), "/dev/ttyS2");
  for (const char* asIs : {"/dev/pts/4", "COM1x", "COM", "ttyUSB0"}) {
    EXPECT_EQ(Resolved(asIs), asIs);
  }
  // A port name with no such port is refused rather than passed on as a file.
  for (const char* bad : {"COM0", "COM257", "COM01", "com300:"})
    EXPECT_EQ(comrt_ResolvePortName(bad, out, sizeof out), ERROR_BAD_PATHNAME) << bad;

  const char device[] = "/dev/pts/7";
  HKEY key = MapAsNamedValue("COM2", device);
  ASSERT_NE(key, nullptr);
  RegCloseKey(key);
  // The subkey form is honoured too.
  ASSERT_EQ(
      RegSetValueA(HKEY_CURRENT_USER, "Software\\Tarn\\Ports\\COM5", REG_SZ, "/dev/ttyACM0", 0),
      ERROR_SUCCESS);
  EXPECT_EQ(Resolved("com2"), device);
  EXPECT_EQ(Resolved("COM5"), "/dev/ttyACM0");
  EXPECT_EQ(Resolved("COM4"), "/dev/ttyS3");

  EXPECT_EQ(comrt_ResolvePortName("COM2", out, 5), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(comrt_ResolvePortName(nullptr, out, sizeof out), ERROR_INVALID_PARAMETER);

  WriteAll(path_, "garbage");
  EXPECT_EQ(comrt_ResolvePortName("COM2", out, sizeof out), ERROR_BADDB);
  ASSERT_EQ(comrt_ResolvePortName("/dev/ttyS9", out, sizeof out), ERROR_SUCCESS);
}

TEST_F(Registry, PortMapEntriesMeanWhatDeviceNamesMeanAndNeverNameAPort) {
  auto map = [](const char* port, const char* device) {
    return RegSetValueA(HKEY_CURRENT_USER, (std::string("Software\\Tarn\\Ports\\") + port).c_str(),
                        REG_SZ, device, 0);
  };
  char out[64];
  // A name without a folder is below /dev, as a settings string's device
  // is, wherever the program runs; an absolute path stays as it is.
  ASSERT_EQ(map("COM2", "ttyUSB3"), ERROR_SUCCESS);
  ASSERT_EQ(map("COM3", "pts/4"), ERROR_SUCCESS);
  ASSERT_EQ(map("COM4", "/srv/line"), ERROR_SUCCESS);
  EXPECT_EQ(Resolved("COM2"), "/dev/ttyUSB3");
  EXPECT_EQ(Resolved("COM3"), "/dev/pts/4");
  EXPECT_EQ(Resolved("COM4"), "/srv/line");
  // An entry naming a port (another, itself, a bad one, in any spelling)
  // is refused: never opened as a file of that name, never followed.
  for (const char* target : {"COM4", "com5:", "\\\\.\\COM6", "COM6", "COM300"}) {
    ASSERT_EQ(map("COM6", target), ERROR_SUCCESS);
    EXPECT_EQ(comrt_ResolvePortName("COM6", out, sizeof out), ERROR_INVALID_DATA) << target;
  }
  // Other ports keep working.
  EXPECT_EQ(Resolved("COM2"), "/dev/ttyUSB3");
}

}  // namespace
