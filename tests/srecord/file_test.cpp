// The four file operations of the codec, against golden files and each
// other.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <numeric>
#include <vector>

#include "holm/srecord/srecord.h"
#include "test_util.h"

namespace holm {
namespace {

using srtest::DataFile;
using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteAll;

std::vector<uint8_t> Sequence(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

FileInfo AllParts() {
  FileInfo o;
  o.HasHeader = o.HasData = o.HasEnd = 1;
  return o;
}

struct TextCapture {
  std::string text;
  int calls = 0;
  std::function<void(std::string_view)> Sink() {
    return [this](std::string_view t) {
      text.assign(t);
      ++calls;
    };
  }
};

// ---------------------------------------------------------------- writers

TEST(WriteImageFile, MatchesGoldenFile) {
  ScratchDir dir;
  const uint8_t header[] = {'A', 'B'};
  auto data = Sequence(17, 0x20);
  WriteImageFile(dir.File("out.s19"), "Pager image\nsecond line", 0x1000, header, 2, data.data(),
                 17);
  EXPECT_EQ(ReadAll(dir.File("out.s19")), ReadAll(DataFile("write_basic.s19")));
  EXPECT_EQ(dir.Count(), 1u);  // no temporary file left behind
}

TEST(WriteImageFile, EmptyImageGivesThreeLines) {
  ScratchDir dir;
  WriteImageFile(dir.File("e.s19"), "", 0, nullptr, 0, nullptr, 0);
  EXPECT_EQ(ReadAll(dir.File("e.s19")), "\nS001FE\nS9030000FC");
  WriteImageFileEx(dir.File("x.s19"), "", ImageDesc{}, AllParts());
  EXPECT_EQ(ReadAll(dir.File("x.s19")), "S001FE\nS9030000FC");
}

TEST(WriteImageFile, SixteenBytesPerRecordAndRemainder) {
  ScratchDir dir;
  auto data = Sequence(33, 0);
  WriteImageFile(dir.File("a.s19"), "", 0x10, nullptr, 0, data.data(), 16);
  std::string one = BuildRecord("S1", 0x10, data.data(), 16, "\n");
  EXPECT_EQ(one.substr(0, 4), "S113");
  EXPECT_EQ(ReadAll(dir.File("a.s19")), "\nS001FE\n" + one + "S9030000FC");

  WriteImageFile(dir.File("b.s19"), "", 0x10, nullptr, 0, data.data(), 17);
  EXPECT_EQ(ReadAll(dir.File("b.s19")), "\nS001FE\n" + one + "S104002010CB\nS9030000FC");

  // Addresses above FFFF hex are written as their low 16 bits.
  WriteImageFile(dir.File("c.s19"), "", 0x1FFF8, nullptr, 0, data.data(), 33);
  std::string c = ReadAll(dir.File("c.s19"));
  EXPECT_NE(c.find("\nS113FFF8"), std::string::npos);
  EXPECT_NE(c.find("\nS1130008"), std::string::npos);
  EXPECT_NE(c.find("\nS1040018"), std::string::npos);
}

TEST(WriteImageFileEx, WritesOnlySelectedPartsAndEndsTheText) {
  ScratchDir dir;
  const uint8_t header[] = {'A', 'B'};
  const uint8_t data[] = {1, 2, 3};
  ImageDesc desc{0x1000, const_cast<uint8_t*>(header), 2, const_cast<uint8_t*>(data), 3};
  FileInfo none;
  WriteImageFileEx(dir.File("t.s19"), "note", desc, none);
  EXPECT_EQ(ReadAll(dir.File("t.s19")), "note\n");
  WriteImageFileEx(dir.File("t.s19"), "note\n", desc, none);
  EXPECT_EQ(ReadAll(dir.File("t.s19")), "note\n");

  FileInfo dataOnly;
  dataOnly.HasData = 1;
  WriteImageFileEx(dir.File("d.s19"), "", desc, dataOnly);
  EXPECT_EQ(ReadAll(dir.File("d.s19")), "S1061000010203E3\n");

  WriteImageFileEx(dir.File("all.s19"), "a\nb", desc, AllParts());
  EXPECT_EQ(ReadAll(dir.File("all.s19")), "a\nb\nS003414279\nS1061000010203E3\nS9030000FC");
}

TEST(WriteImageFile, FailuresAreFileErrorsAndKeepTheOldFile) {
  ScratchDir dir;
  const uint8_t data[] = {1, 2, 3};
  EXPECT_THROW(WriteImageFile(dir.File("missing/x.s19"), "", 0, nullptr, 0, data, 3), S19FileError);
  EXPECT_THROW(WriteImageFile("", "", 0, nullptr, 0, data, 3), S19FileError);
  // A folder in the way of the target: the rename fails, nothing is left.
  std::filesystem::create_directory(dir.File("sub"));
  WriteAll(dir.File("sub/keep"), "x");
  EXPECT_THROW(WriteImageFile(dir.File("sub"), "", 0, nullptr, 0, data, 3), S19FileError);
  EXPECT_EQ(dir.Count(), 1u);
  // A null buffer with a size is refused before the file is touched.
  WriteAll(dir.File("old.s19"), "previous image");
  EXPECT_THROW(WriteImageFile(dir.File("old.s19"), "", 0, nullptr, 0, nullptr, 5), S19BadArgument);
  EXPECT_THROW(
      WriteImageFileEx(dir.File("old.s19"), "", ImageDesc{0, nullptr, 4, nullptr, 0}, AllParts()),
      S19BadArgument);
  EXPECT_EQ(ReadAll(dir.File("old.s19")), "previous image");
}

TEST(WriteImageFile, FailureWhileWritingLeavesExistingFileIntact) {
  ScratchDir dir;
  const std::string target = dir.File("image.s19");
  WriteAll(target, "previous image");
  std::vector<uint8_t> data(64 * 1024, 0x5A);
  // The child may write at most 4 KiB per file: the write fails half way.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      4096, 4096
    };
    setrlimit(RLIMIT_FSIZE, &limit);
    int code = 1;
    try {
      WriteImageFile(target, "text", 0, nullptr, 0, data.data(), static_cast<int32_t>(data.size()));
    } catch (const S19FileError&) {
      code = 42;
    } catch (...) {
      code = 2;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 42);
  EXPECT_EQ(ReadAll(target), "previous image");
  EXPECT_EQ(dir.Count(), 1u);
  // The same write without the limit replaces the file.
  WriteImageFile(target, "text", 0, nullptr, 0, data.data(), static_cast<int32_t>(data.size()));
  EXPECT_EQ(ReadAll(target).substr(0, 12), "text\nS001FE\n");
}

TEST(WriteImageFile, NegativeLengthsWriteNothing) {
  ScratchDir dir;
  const uint8_t data[] = {1};
  WriteImageFile(dir.File("n.s19"), "", 0, data, -3, data, -1);
  EXPECT_EQ(ReadAll(dir.File("n.s19")), "\nS001FE\nS9030000FC");
}

// ---------------------------------------------------------------- strict reader

TEST(ReadImageFile, ReadsGoldenFileWithLfOrCrLf) {
  for (const char* name : {"write_basic.s19", "crlf.s19"}) {
    SCOPED_TRACE(name);
    TextCapture text;
    std::array<uint8_t, 4> header{};
    std::vector<uint8_t> data(20, 0xEE);
    ReadImageFile(DataFile(name), text.Sink(), 0x1000, header.data(), 4, data.data(), 20);
    EXPECT_EQ(text.text, "Pager image\nsecond line\n");
    EXPECT_EQ(text.calls, 1);
    auto expected = Sequence(17, 0x20);
    expected.resize(20, 0xEE);
    EXPECT_EQ(data, expected);
    // "AB" is taken as offset 4142 hex: nothing lands in a 4-byte header.
    EXPECT_EQ(header, (std::array<uint8_t, 4>{}));
  }
}

TEST(ReadImageFile, RoundTripsTextAndData) {
  ScratchDir dir;
  auto data = Sequence(100, 7);
  const uint8_t header[] = {0, 2, 'X', 'Y'};
  struct Case {
    std::string written, read;
  } cases[] = {{"", ""}, {"one", "one\n"}, {"one\ntwo\n", "one\ntwo\n"}, {"a\n\nb", "a\n\nb\n"}};
  for (const auto& c : cases) {
    WriteImageFile(dir.File("r.s19"), c.written, 0x7F00, header, 4, data.data(), 100);
    TextCapture text;
    std::array<uint8_t, 6> h{};
    std::vector<uint8_t> back(100);
    ReadImageFile(dir.File("r.s19"), text.Sink(), 0x7F00, h.data(), 6, back.data(), 100);
    EXPECT_EQ(text.text, c.read) << c.written;
    EXPECT_EQ(back, data);
    // The first two header bytes are an offset: X and Y land at index 2 and 3.
    EXPECT_EQ(h, (std::array<uint8_t, 6>{0, 0, 'X', 'Y', 0, 0}));
  }
}

TEST(ReadImageFile, DamagedFiles) {
  ScratchDir dir;
  const std::string f = dir.File("d.s19");
  std::array<uint8_t, 8> data{};
  auto read = [&](const std::string& content, TextCapture& text) {
    WriteAll(f, content);
    data.fill(0);
    ReadImageFile(f, text.Sink(), 0x1000, nullptr, 0, data.data(), 8);
  };
  {
    // Text but no S0 line: the text is not stored.
    TextCapture text;
    EXPECT_THROW(read("just text\nmore\n", text), S19Damaged);
    EXPECT_EQ(text.calls, 0);
  }
  {
    // End of file before S9: text and earlier records stay.
    TextCapture text;
    EXPECT_THROW(read("t\nS001FE\nS1061000010203E3\n", text), S19Damaged);
    EXPECT_EQ(text.text, "t\n");
    EXPECT_EQ(data[0], 1);
  }
  for (const char* bad : {"S001FE\n\nS9030000FC",                    // empty line
                          "S001FE\nnote here\nS9030000FC",           // free text
                          "S001FE\nS10410001FBA\nS9030000FC",        // bad checksum
                          "S001FE\ns1061000010203E3\nS9030000FC",    // lower-case s
                          "S001FE\nS1061000010203E300\nS9030000FC",  // longer than its count
                          "S001FE\nS9030000FD",                      // S9 checksum
                          "S0020000FD\nS9030000FC",                  // S0 malformed
                          "S1061000010203E3\nS9030000FC"}) {         // S1 where S0 expected
    TextCapture text;
    EXPECT_THROW(read(bad, text), S19Damaged) << bad;
  }
  // A record of another kind passes when its checks happen to hold.
  TextCapture text;
  EXPECT_NO_THROW(read("S001FE\nS5030001FB\nS9030000FC", text));
  // Text lines starting with S0 but of 4 characters are text, not the header.
  EXPECT_NO_THROW(read("S0ab\nS001FE\nS1061000010203E3\nS9030000FC", text));
  EXPECT_EQ(text.text, "S0ab\n");
}

// The S9 line goes through the same parse as the others, with base 0: its
// data bytes are stored. A record whose checksum fails has stored its
// bytes before the failure, and they stay.
TEST(ReadImageFile, S9DataIsStoredAndAFailedRecordsBytesStay) {
  ScratchDir dir;
  std::array<uint8_t, 8> data{};
  WriteAll(dir.File("s9.s19"), "\nS001FE\nS9050002AABB93");
  ReadImageFile(
      dir.File("s9.s19"), [](std::string_view) {}, 0x1000, nullptr, 0, data.data(), 8);
  EXPECT_EQ(data, (std::array<uint8_t, 8>{0, 0, 0xAA, 0xBB, 0, 0, 0, 0}));
  data.fill(0);
  WriteAll(dir.File("bad.s19"), "\nS001FE\nS1061000010203E4\nS9030000FC");
  EXPECT_THROW(
      ReadImageFile(
          dir.File("bad.s19"), [](std::string_view) {}, 0x1000, nullptr, 0, data.data(), 8),
      S19Damaged);
  EXPECT_EQ(data, (std::array<uint8_t, 8>{1, 2, 3, 0, 0, 0, 0, 0}));
}

TEST(ReadImageFile, StopsAtS9AndAcceptsLowerCaseHex) {
  ScratchDir dir;
  const std::string f = dir.File("s.s19");
  WriteAll(f, "S001fe\nS1061000aabbccb8\nS9030000fc\nanything at all\nS1garbage");
  TextCapture text;
  std::array<uint8_t, 3> data{};
  ReadImageFile(f, text.Sink(), 0x1000, nullptr, 0, data.data(), 3);
  EXPECT_EQ(data, (std::array<uint8_t, 3>{0xAA, 0xBB, 0xCC}));
  EXPECT_EQ(text.text, "");
}

TEST(ReadImageFile, OnlyRegularFilesAreRead) {
  ScratchDir dir;
  TextCapture text;
  std::array<uint8_t, 4> data{};
  ImageDesc desc{0, nullptr, 0, data.data(), 4};
  FileInfo info;
  // A FIFO without a writer would block, a device may never end.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  for (std::string name : {dir.File("fifo"), std::string("/dev/zero"), dir.Path().string()}) {
    EXPECT_THROW(ReadImageFile(name, text.Sink(), 0, nullptr, 0, data.data(), 4), S19FileError)
        << name;
    EXPECT_THROW(ReadImageFileEx(name, desc, info, text.Sink()), S19FileError) << name;
  }
  EXPECT_EQ(text.calls, 0);
}

TEST(WriteImageFile, ReplacesTheFileALinkPointsTo) {
  ScratchDir dir;
  WriteAll(dir.File("real.s19"), "old");
  chmod(dir.File("real.s19").c_str(), 0640);
  std::filesystem::create_symlink("real.s19", dir.File("link.s19"));
  WriteImageFile(dir.File("link.s19"), "", 0, nullptr, 0, nullptr, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.s19")));
  EXPECT_EQ(ReadAll(dir.File("real.s19")), "\nS001FE\nS9030000FC");
  EXPECT_EQ(std::filesystem::status(dir.File("real.s19")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
  EXPECT_EQ(dir.Count(), 2u);
}

TEST(ReadImageFile, MissingFileIsFileError) {
  ScratchDir dir;
  TextCapture text;
  EXPECT_THROW(ReadImageFile(dir.File("none.s19"), text.Sink(), 0, nullptr, 0, nullptr, 0),
               S19FileError);
  EXPECT_THROW(ReadImageFile(dir.Path().string(), text.Sink(), 0, nullptr, 0, nullptr, 0),
               S19FileError);
  ImageDesc desc;
  FileInfo info;
  EXPECT_THROW(ReadImageFileEx(dir.File("none.s19"), desc, info, text.Sink()), S19FileError);
  EXPECT_EQ(text.calls, 0);
}

// ---------------------------------------------------------------- tolerant reader

TEST(ReadImageFileEx, ReportsEveryKindOfLineInAMixedFile) {
  TextCapture text;
  std::array<uint8_t, 8> header{};
  std::array<uint8_t, 16> data{};
  ImageDesc desc{0x2000, header.data(), 8, data.data(), 16};
  FileInfo info;
  info.ChecksumErrors = 99;  // everything is reset first
  ReadImageFileEx(DataFile("mixed.s19"), desc, info, text.Sink());
  EXPECT_EQ(text.text,
            "; comment before\nfree text between\ns1052000AABB00\nS5030002FA\nS1\n\nafter the "
            "end\n");
  EXPECT_EQ(header, (std::array<uint8_t, 8>{'H', 'D', 'R', 0, 0, 0, 0, 0}));
  // AA BB come from the record with the bad checksum; 11 22 33 and 44 from
  // good ones; the record at 0000 falls below the base.
  EXPECT_EQ(data, (std::array<uint8_t, 16>{0xAA, 0xBB, 0, 0, 0x11, 0x22, 0x33, 0, 0x44}));
  EXPECT_EQ(info.LowAddress, 0);
  EXPECT_EQ(info.Reserved1, 0);
  EXPECT_EQ(info.Span, 0x2008 + 4);
  EXPECT_EQ(info.HasHeader, 1);
  EXPECT_EQ(info.HeaderBad, 0);
  EXPECT_EQ(info.HasData, 1);
  EXPECT_EQ(info.Reserved2, 0);
  EXPECT_EQ(info.HasEnd, 1);
  EXPECT_EQ(info.EndGood, 1);
  EXPECT_EQ(info.ChecksumErrors, 1);
  EXPECT_EQ(info.FormatErrors, 2);
}

TEST(ReadImageFileEx, FlagPolarityAndLastRecordWins) {
  ScratchDir dir;
  const std::string f = dir.File("p.s19");
  TextCapture text;
  std::array<uint8_t, 4> data{};
  ImageDesc desc{0x1000, nullptr, 0, data.data(), 4};
  FileInfo info;
  // Only a bad S1 record: counted, bytes stored, HasData stays 0.
  WriteAll(f, "S1061000010203E4\nS0020000FD\nS9030000FD\n");
  ReadImageFileEx(f, desc, info, text.Sink());
  EXPECT_EQ(info.HasData, 0);
  EXPECT_EQ(info.ChecksumErrors, 1);
  EXPECT_EQ(data, (std::array<uint8_t, 4>{1, 2, 3, 0}));
  EXPECT_EQ(info.HasHeader, 1);
  EXPECT_EQ(info.HeaderBad, 1);
  EXPECT_EQ(info.HasEnd, 1);
  EXPECT_EQ(info.EndGood, 0);
  // A later good S0 and S9 overwrite the flags.
  WriteAll(f, "S0020000FD\nS9030000FD\nS001FE\nS9030000FC");
  ReadImageFileEx(f, desc, info, text.Sink());
  EXPECT_EQ(info.HeaderBad, 0);
  EXPECT_EQ(info.EndGood, 1);
  EXPECT_EQ(info.ChecksumErrors, 0);
  // And the other way round.
  WriteAll(f, "S001FE\nS9030000FC\nS003414278\nS9030000FD\r\n");
  ReadImageFileEx(f, desc, info, text.Sink());
  EXPECT_EQ(info.HeaderBad, 1);
  EXPECT_EQ(info.EndGood, 0);
  EXPECT_EQ(text.text, "");
  // An empty file: everything 0, empty text.
  WriteAll(f, "");
  ReadImageFileEx(f, desc, info, text.Sink());
  EXPECT_EQ(info.HasHeader + info.HasData + info.HasEnd + info.FormatErrors, 0);
  EXPECT_EQ(text.text, "");
}

TEST(ReadImageFileEx, ReadsBackWhatEitherWriterWrote) {
  ScratchDir dir;
  auto header = Sequence(40, 0x80);
  auto data = Sequence(50, 1);
  ImageDesc out{0x3000, header.data(), 40, data.data(), 50};
  WriteImageFileEx(dir.File("x.s19"), "comment", out, AllParts());
  WriteImageFile(dir.File("y.s19"), "comment", 0x3000, header.data(), 40, data.data(), 50);
  for (const char* name : {"x.s19", "y.s19"}) {
    TextCapture text;
    std::vector<uint8_t> h(40), d(50);
    ImageDesc in{0x3000, h.data(), 40, d.data(), 50};
    FileInfo info;
    ReadImageFileEx(dir.File(name), in, info, text.Sink());
    EXPECT_EQ(h, header) << name;
    EXPECT_EQ(d, data) << name;
    EXPECT_EQ(info.HasHeader, 1);
    EXPECT_EQ(info.HeaderBad, 0);
    EXPECT_EQ(info.HasData, 1);
    EXPECT_EQ(info.EndGood, 1);
    EXPECT_EQ(info.Span, 0x3000 + 0x30 + 5);  // last record: 2 bytes at 3030
    EXPECT_EQ(info.ChecksumErrors + info.FormatErrors, 0);
  }
}

TEST(ReadImageFileEx, LongLinesAndChunkBoundaries) {
  ScratchDir dir;
  // 1.2 MB of records (addresses wrap) after a 3 MB text line: every line
  // crosses or straddles the reader's chunk boundaries somewhere.
  const size_t n = 400000;
  std::vector<uint8_t> data(n);
  for (size_t i = 0; i < n; ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 65536);
  std::string longText(3 * 1024 * 1024 + 17, 'x');
  WriteImageFile(dir.File("big.s19"), longText, 0, nullptr, 0, data.data(),
                 static_cast<int32_t>(n));
  std::vector<uint8_t> back(65536);
  ImageDesc desc{0, nullptr, 0, back.data(), 65536};
  FileInfo info;
  TextCapture text;
  ReadImageFileEx(dir.File("big.s19"), desc, info, text.Sink());
  EXPECT_EQ(text.text, longText + "\n");
  EXPECT_EQ(info.ChecksumErrors + info.FormatErrors, 0);
  // Each 16-bit address holds the byte written last for it.
  std::vector<uint8_t> expected(65536);
  for (size_t i = 0; i < n; ++i) expected[i & 0xFFFF] = data[i];
  EXPECT_EQ(back, expected);
  // The strict reader agrees and gets the text without its empty last line.
  std::fill(back.begin(), back.end(), 0);
  ReadImageFile(dir.File("big.s19"), text.Sink(), 0, nullptr, 0, back.data(), 65536);
  EXPECT_EQ(back, expected);
  EXPECT_EQ(text.text, longText + "\n");
}

}  // namespace
}  // namespace holm
