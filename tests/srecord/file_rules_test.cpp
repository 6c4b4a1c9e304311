// What the writers do with the file they replace, checked as a user without
// root (as root every file is writable and the rules cannot show): a
// target we may not write stays as it was and is a file failure; one that
// a rename would change behind the user's back (hard links, a folder we
// cannot write, another owner, not a regular file) is written in place;
// otherwise the new file takes the old one's permissions and owner.
//
// Run as root, each case forks a child that drops to the user "nobody"
// (uid and gid 65534) and works in a folder that user owns.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "holm/srecord/srecord.h"
#include "test_util.h"

namespace holm {
namespace {

using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteAll;

constexpr uid_t kNobody = 65534;
constexpr const char* kNewImage = "\nS001FE\nS9030000FC";

void WriteEmptyImage(const std::string& target) {
  WriteImageFile(target, "", 0, nullptr, 0, nullptr, 0);
}

struct stat StatOf(const std::string& name) {
  struct stat st {};
  EXPECT_EQ(::stat(name.c_str(), &st), 0) << name;
  return st;
}

// Runs body(folder) as a user without root. prepare(folder) runs before,
// as the caller (as root it may make files the body's user does not own).
void AsUser(const std::function<void(const ScratchDir&)>& body,
            const std::function<void(const ScratchDir&)>& prepare = {}) {
  ScratchDir dir;
  if (::geteuid() != 0) {
    if (prepare) prepare(dir);
    body(dir);
    return;
  }
  ASSERT_EQ(::chown(dir.Path().c_str(), kNobody, kNobody), 0);
  if (prepare) prepare(dir);
  std::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      ::_exit(3);
    body(dir);
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the unprivileged part failed (3: could not drop root)";
  // Whatever the body left without write permission can go again.
  ::chmod(dir.Path().c_str(), 0700);
}

TEST(WriterFileRules, ReadOnlyTargetIsFileFailureAndStaysAsItWas) {
  AsUser([](const ScratchDir& dir) {
    ASSERT_NE(::geteuid(), 0u);
    const std::string target = dir.File("image.s19");
    WriteAll(target, "protected image");
    ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
    EXPECT_THROW(WriteEmptyImage(target), S19FileError);
    FileInfo all;
    all.HasHeader = all.HasData = all.HasEnd = 1;
    EXPECT_THROW(WriteImageFileEx(target, "t", ImageDesc{}, all), S19FileError);
    EXPECT_EQ(ReadAll(target), "protected image");
    EXPECT_EQ(StatOf(target).st_mode & 07777, 0444u);
    EXPECT_EQ(dir.Count(), 1u);
  });
}

TEST(WriterFileRules, WritableTargetInFolderWithoutWritePermissionIsWrittenInPlace) {
  AsUser([](const ScratchDir& dir) {
    const std::string folder = dir.File("locked");
    const std::string target = folder + "/image.s19";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    WriteAll(target, "an older image, longer than the new one");
    const ino_t inode = StatOf(target).st_ino;
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    EXPECT_NO_THROW(WriteEmptyImage(target));
    EXPECT_EQ(ReadAll(target), kNewImage);
    EXPECT_EQ(StatOf(target).st_ino, inode);
    // A new name cannot be made there: still the file failure.
    EXPECT_THROW(WriteEmptyImage(folder + "/new.s19"), S19FileError);
    ::chmod(folder.c_str(), 0755);
  });
}

TEST(WriterFileRules, EveryNameOfAHardLinkedTargetSeesTheNewImage) {
  AsUser([](const ScratchDir& dir) {
    const std::string first = dir.File("a.s19");
    const std::string second = dir.File("b.s19");
    WriteAll(first, "old image old image old image");
    ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
    WriteEmptyImage(first);
    EXPECT_EQ(ReadAll(second), kNewImage);
    EXPECT_EQ(StatOf(first).st_ino, StatOf(second).st_ino);
    EXPECT_EQ(StatOf(first).st_nlink, 2u);
    EXPECT_EQ(dir.Count(), 2u);
  });
}

TEST(WriterFileRules, TargetsThatAreNotRegularFiles) {
  AsUser([](const ScratchDir& dir) {
    EXPECT_NO_THROW(WriteEmptyImage("/dev/null"));
    // A pipe nobody reads: a file failure at once, not a hang.
    const std::string fifo = dir.File("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(WriteEmptyImage(fifo), S19FileError);
    // A pipe with a reader gets the image.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_NO_THROW(WriteEmptyImage(fifo));
    char buffer[64] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 18);
    EXPECT_STREQ(buffer, kNewImage);
    ::close(reader);
    EXPECT_TRUE(S_ISFIFO(StatOf(fifo).st_mode));
  });
}

TEST(WriterFileRules, ReplacedTargetKeepsItsPermissions) {
  AsUser([](const ScratchDir& dir) {
    const std::string target = dir.File("image.s19");
    WriteAll(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0604), 0);
    const ino_t inode = StatOf(target).st_ino;
    WriteEmptyImage(target);
    EXPECT_EQ(ReadAll(target), kNewImage);
    EXPECT_EQ(StatOf(target).st_mode & 07777, 0604u);
    EXPECT_NE(StatOf(target).st_ino, inode) << "expected the rename path";
    EXPECT_EQ(dir.Count(), 1u);
  });
}

// A file of another user that we may write, in our own folder: a rename
// would hand it to us, so it is written in place and keeps its owner.
TEST(WriterFileRules, TargetOfAnotherOwnerKeepsItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  AsUser(
      [](const ScratchDir& dir) {
        const std::string target = dir.File("theirs.s19");
        WriteEmptyImage(target);
        EXPECT_EQ(ReadAll(target), kNewImage);
        EXPECT_EQ(StatOf(target).st_uid, 0u);
        EXPECT_EQ(StatOf(target).st_mode & 07777, 0666u);
      },
      [](const ScratchDir& dir) {
        WriteAll(dir.File("theirs.s19"), "root's old image, longer than the new");
        ::chmod(dir.File("theirs.s19").c_str(), 0666);
      });
}

// Root can take any owner: the rename path keeps the file another user's.
TEST(WriterFileRules, RootKeepsTheOwnerOfAReplacedFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a file of another user";
  ScratchDir dir;
  const std::string target = dir.File("image.s19");
  WriteAll(target, "old");
  ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  const ino_t inode = StatOf(target).st_ino;
  WriteEmptyImage(target);
  EXPECT_NE(StatOf(target).st_ino, inode) << "expected the rename path";
  EXPECT_EQ(StatOf(target).st_uid, kNobody);
  EXPECT_EQ(StatOf(target).st_gid, kNobody);
  EXPECT_EQ(StatOf(target).st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace holm
