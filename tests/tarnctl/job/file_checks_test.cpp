// tarnctl's stricter reading of S19 files, its numbers (decimal or 0x hex,
// never octal) and its bounded reading of password files.
#include "file_checks.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "commands.h"
#include "errors.h"
#include "process.h"

namespace tarnctl {
namespace {

const char* kGood =
    "comment\r\n"
    "S00600004844521B\r\n"
    "S1070100010203046D\r\n"
    "S1050102030471\r\n"  // overlaps the first with the same bytes
    "S5030002FA\r\n"
    "S9030000FC\r\n";

// The message of the Error the check throws, or "" when it passes.
std::string Refusal(const std::string& text) {
  try {
    CheckImageRecords(text, "f.s19");
    return {};
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitFile);
    return e.what();
  }
}

TEST(ImageRules, EachStricterRuleIsRefusedWithItsLine) {
  EXPECT_EQ(Refusal(kGood), "");
  struct Case {
    const char* text;
    const char* expected;
  } cases[] = {
      {"S0030000FC\nS2080021000102030000\nS9030000FC\n", "f.s19 line 2: an S2 record"},
      {"S30900002100010203CF\nS70500000000FA\n", "line 1: an S3 record"},
      {"S804000000FB\n", "line 1: an S8 record"},
      {"S105FFFE0102FA\nS105FFFF0102F9\nS9030000FC\n",
       "line 2: the record at 0xFFFF with 2 bytes runs past 0xFFFF"},
      {" S1050100AABB94\nS9030000FC\n",
       "line 1: the line looks like a record but would be read "
       "as a comment (a leading blank)"},
      {"S1050100AABB94\ns1050100AABB94\nS9030000FC\n",
       "line 2: the line looks like a record but "
       "would be read as a comment (a lower-case"},
      {"S1050100AABB94\nS9030000FC\nS1050200AABB93\n",
       "line 3: a data record after the end record"},
      {"S1050100AABB94\nS5030002FA\nS9030000FC\n",
       "line 2: the count record (S5) says 2 data records, the file has 1"},
      {"S1070100010203046D\nS1050102AA0099\nS9030000FC\n",
       "line 2: the record gives 0x0102 a byte other"},
  };
  for (const Case& c : cases) {
    std::string why = Refusal(c.text);
    EXPECT_NE(why.find(c.expected), std::string::npos) << c.text << "\n -> " << why;
  }
  // Text lines that merely start like a record stay comments.
  EXPECT_EQ(Refusal("S1 records only, please\ns9 ends it\nS1050100AABB94\nS9030000FC\n"), "");
}

TEST(Numbers, DecimalOrHexNeverOctal) {
  unsigned long long v = 0;
  ASSERT_TRUE(ParseNumber("0100", 0xFFFF, &v));
  EXPECT_EQ(v, 100u);
  ASSERT_TRUE(ParseNumber("09", 0xFFFF, &v));
  EXPECT_EQ(v, 9u);
  ASSERT_TRUE(ParseNumber("0XfF", 0xFFFF, &v));
  EXPECT_EQ(v, 255u);
  for (const char* bad : {"", "0x", "0x0x1", " 1", "+1", "-1", "1e3", "0x10000", "65536", "0b1"})
    EXPECT_FALSE(ParseNumber(bad, 0xFFFF, &v)) << bad;
  EXPECT_EQ(ParseCommand("42:010").a, 10u);
}

TEST(PasswordFile, ReadsALineAtMostRefusesFoldersAndWarns) {
  signal(SIGPIPE, SIG_IGN);
  std::string dir = tarnctl_test::MakeTempDir();
  // A pipe that would never end: only the first bytes are read.
  std::string fifo = dir + "/endless";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  size_t written = 0;
  const size_t limit = size_t{256} << 20;
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY);
    std::string chunk(1 << 20, 'x');
    while (fd >= 0 && written < limit) {
      ssize_t n = write(fd, chunk.data(), chunk.size());
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    if (fd >= 0) close(fd);
  });
  std::vector<std::string> warnings;
  try {
    ReadPasswordFile(fifo, &warnings);
    ADD_FAILURE() << "an endless password file was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitUsage);
    EXPECT_NE(std::string(e.what()).find("more than 10 bytes"), std::string::npos) << e.what();
  }
  writer.join();
  EXPECT_LT(written, limit) << "the whole pipe was read";

  try {
    ReadPasswordFile(dir, &warnings);
    ADD_FAILURE() << "a folder was accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.ExitCodeValue(), kExitUsage);
    EXPECT_NE(std::string(e.what()).find("it is a folder"), std::string::npos) << e.what();
  }

  std::string file = dir + "/pw";
  tarnctl_test::WriteFile(file, "secret\n");
  chmod(file.c_str(), 0600);
  EXPECT_EQ(ReadPasswordFile(file, &warnings)[5], 't');
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  chmod(file.c_str(), 0644);
  ReadPasswordFile(file, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("can be read by other users"), std::string::npos) << warnings[0];
  warnings.clear();
  tarnctl_test::WriteFile(file, "\n");
  chmod(file.c_str(), 0600);
  ReadPasswordFile(file, &warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("is empty"), std::string::npos) << warnings[0];
  tarnctl_test::RemoveTree(dir);
}

}  // namespace
}  // namespace tarnctl
