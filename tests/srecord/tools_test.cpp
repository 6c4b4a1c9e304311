// Cross-checks with independent S-record tools: srec_cat reads what the
// writer writes, and both readers take what srec_cat and objcopy write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "holm/srecord/srecord.h"
#include "test_util.h"

namespace holm {
namespace {

using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteAll;

bool HaveTool(const char* name) {
  std::string probe = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(probe.c_str()) == 0;
}

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

std::string AsString(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

struct Read {
  std::vector<uint8_t> data;
  std::vector<uint8_t> header;
  FileInfo info;
  std::string text;
};

Read Tolerant(const std::string& file, int32_t base, size_t size) {
  Read r;
  r.data.assign(size, 0);
  r.header.assign(64, 0);
  ImageDesc desc{base, r.header.data(), 64, r.data.data(), static_cast<int32_t>(size)};
  ReadImageFileEx(file, desc, r.info, [&](std::string_view t) { r.text.assign(t); });
  return r;
}

// A read that found the data, a good header, a good end and no error.
void ExpectCleanRead(const Read& r, const std::vector<uint8_t>& data) {
  EXPECT_EQ(r.data, data);
  EXPECT_EQ(r.info.HasHeader, 1);
  EXPECT_EQ(r.info.HeaderBad, 0);
  EXPECT_EQ(r.info.HasData, 1);
  EXPECT_EQ(r.info.EndGood, 1);
  EXPECT_EQ(r.info.ChecksumErrors, 0);
  EXPECT_EQ(r.info.FormatErrors, 0);
}

TEST(Tools, SrecCatReadsWrittenFileAtTheSameAddresses) {
  if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat not installed";
  ScratchDir dir;
  auto data = RandomBytes(1000, 1);
  const uint8_t header[] = {'I', 'M', 'G'};
  WriteImageFile(dir.File("w.s19"), "pager image\nversion 2", 0x1234, header, 3, data.data(), 1000);
  // Shifted down by the base, the binary holds exactly the data: any byte
  // at a wrong address would change its length or contents.
  ASSERT_EQ(Shell("srec_cat " + dir.File("w.s19") + " -offset -0x1234 -o " + dir.File("w.bin") +
                  " -binary 2>/dev/null"),
            0);
  EXPECT_EQ(ReadAll(dir.File("w.bin")), AsString(data));

  WriteImageFileEx(dir.File("x.s19"), "", ImageDesc{0x8000, nullptr, 0, data.data(), 999}, [] {
    FileInfo o;
    o.HasHeader = o.HasData = o.HasEnd = 1;
    return o;
  }());
  ASSERT_EQ(Shell("srec_cat " + dir.File("x.s19") + " -offset -0x8000 -o " + dir.File("x.bin") +
                  " -binary 2>/dev/null"),
            0);
  EXPECT_EQ(ReadAll(dir.File("x.bin")), AsString(data).substr(0, 999));
}

TEST(Tools, ReadersTakeSrecCatOutput) {
  if (!HaveTool("srec_cat")) GTEST_SKIP() << "srec_cat not installed";
  ScratchDir dir;
  auto data = RandomBytes(3000, 2);
  WriteAll(dir.File("in.bin"), AsString(data));
  ASSERT_EQ(Shell("srec_cat " + dir.File("in.bin") + " -binary -offset 0x2000 " +
                  "-execution-start-address 0 -o " + dir.File("s.s19") + " -address-length=2"),
            0);
  Read r = Tolerant(dir.File("s.s19"), 0x2000, 3000);
  ExpectCleanRead(r, data);
  EXPECT_EQ(r.info.HasEnd, 1);
  EXPECT_NE(r.text.find("S5"), std::string::npos);  // the count record is kept as text

  // The strict reader takes the S5 count record as a record without data.
  std::vector<uint8_t> strict(3000);
  std::string text;
  ReadImageFile(
      dir.File("s.s19"), [&](std::string_view t) { text.assign(t); }, 0x2000, nullptr, 0,
      strict.data(), 3000);
  EXPECT_EQ(strict, data);
  EXPECT_EQ(text, "");

  // Without a start address srec_cat writes no S9: the strict reader calls
  // that damaged, the tolerant one reads everything and says so.
  ASSERT_EQ(Shell("srec_cat " + dir.File("in.bin") + " -binary -offset 0x2000 -o " +
                  dir.File("n.s19") + " -address-length=2"),
            0);
  EXPECT_THROW(
      ReadImageFile(
          dir.File("n.s19"), [](std::string_view) {}, 0x2000, nullptr, 0, strict.data(), 3000),
      S19Damaged);
  r = Tolerant(dir.File("n.s19"), 0x2000, 3000);
  EXPECT_EQ(r.data, data);
  EXPECT_EQ(r.info.HasEnd, 0);
  EXPECT_EQ(r.info.ChecksumErrors + r.info.FormatErrors, 0);
}

TEST(Tools, ReadersTakeObjcopyOutputWithCrLf) {
  if (!HaveTool("objcopy")) GTEST_SKIP() << "objcopy not installed";
  ScratchDir dir;
  auto data = RandomBytes(2500, 3);
  WriteAll(dir.File("in.bin"), AsString(data));
  ASSERT_EQ(Shell("cd " + dir.Path().string() +
                  " && objcopy -I binary -O srec --change-addresses 0x1000 in.bin out.s19"),
            0);
  std::string produced = ReadAll(dir.File("out.s19"));
  ASSERT_NE(produced.find("\nS113"), std::string::npos) << "objcopy wrote no S1 records";
  ASSERT_EQ(produced.find("S2"), std::string::npos);

  Read r = Tolerant(dir.File("out.s19"), 0x1000, 2500);
  ExpectCleanRead(r, data);
  EXPECT_EQ(r.text, "");

  std::vector<uint8_t> strict(2500);
  ReadImageFile(
      dir.File("out.s19"), [](std::string_view) {}, 0x1000, nullptr, 0, strict.data(), 2500);
  EXPECT_EQ(strict, data);
}

}  // namespace
}  // namespace holm
