#include "image.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "bstr_text.h"
#include "components.h"
#include "errors.h"
#include "file_checks.h"
#include "output_file.h"
#include "sha256.h"

namespace tarnctl {
namespace {

[[noreturn]] void FileFailure(const ComPtr<IS19File>& s19, const std::string& what,
                              const std::string& fileName, HRESULT hr) {
  ComPtr<IS19Error> err;
  const char* text = nullptr;
  if (SUCCEEDED(s19.As(IID_IS19Error, &err))) err->GetErrorText(&text);
  throw Error(
      kExitFile,
      "cannot " + what + " " + fileName + ": " + HexResult(hr) + " " + (text ? text : "(no text)"),
      hr == S19_E_DAMAGED ? "the file is not a valid S19 file"
                          : "check the file name, the folder and its permissions");
}

}  // namespace

uint32_t MemoryImage::CoveredCount() const {
  uint32_t n = 0;
  for (bool c : covered) n += c ? 1 : 0;
  return n;
}

std::vector<Block> MemoryImage::Blocks(uint32_t maxBlock) const {
  std::vector<Block> blocks;
  uint32_t a = 0;
  while (a < 0x10000) {
    if (!covered[a]) {
      ++a;
      continue;
    }
    uint32_t start = a;
    while (a < 0x10000 && covered[a]) ++a;
    for (const Block& b : SplitBlocks(start, a - start, maxBlock)) blocks.push_back(b);
  }
  return blocks;
}

namespace {

// The file's bytes in a new private folder, removed with the object.
class PrivateCopy {
 public:
  PrivateCopy(const std::string& bytes, const std::string& fileName) {
    dir_ = MakePrivateFolder("tarnctl-in-");
    std::ofstream out;
    if (!dir_.empty()) out.open(dir_ / "image.s19", std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      Remove();
      throw Error(kExitFile, "cannot read " + fileName + ": no temporary folder for its copy",
                  "set TMPDIR to a writable folder");
    }
  }
  ~PrivateCopy() { Remove(); }
  std::string Path() const { return (dir_ / "image.s19").string(); }

 private:
  void Remove() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  std::filesystem::path dir_;
};

// Reads the copy at `path` into the image (pass 0) and `second` (pass 1,
// another fill byte); messages name `fileName`.
void ReadTwice(const std::string& path, const std::string& fileName, MemoryImage* image,
               std::vector<BYTE>* second, S19FileInfo* info) {
  auto s19 = Create<IS19File>(HOLM_PROGID_S19SUPPORT, IID_IS19File);
  ComPtr<IS19FileEx> ex;
  if (FAILED(s19.As(IID_IS19FileEx, &ex)))
    throw Error(kExitComponents, "\"Brenlow.S19SUPPORT\" lacks IS19FileEx");
  std::vector<BYTE> header(256, 0);
  for (int pass = 0; pass < 2; ++pass) {
    BSTR text = nullptr;
    S19ImageDesc desc{};
    desc.Text = &text;
    desc.BaseAddress = 0;
    desc.Header = header.data();
    desc.HeaderSize = static_cast<LONG>(header.size());
    desc.Data = pass == 0 ? image->bytes.data() : second->data();
    desc.DataSize = 0x10000;
    HRESULT hr = ex->ReadImageFileEx(ToBstr(path, TextKind::kFileName), &desc, &info[pass]);
    if (pass == 0) image->text = FromBstr(text);
    SysFreeString(text);
    if (FAILED(hr)) FileFailure(s19, "read", fileName, hr);
  }
}

}  // namespace

MemoryImage LoadImage(const std::string& fileName) {
  // tarnctl's own stricter reading comes first; it also names why a file
  // cannot be read at all.
  std::string bytes = ReadSmallFile(fileName, kMaxImageFileBytes, "the S19 file", kExitFile);
  CheckImageRecords(bytes, fileName);
  MemoryImage image;
  image.sha256 = Sha256Hex(bytes.data(), bytes.size());
  std::vector<BYTE> second(0x10000, 0xFF);
  S19FileInfo info[2] = {};
  {
    PrivateCopy copy(bytes, fileName);
    ReadTwice(copy.Path(), fileName, &image, &second, info);
  }
  const S19FileInfo& r = info[0];
  if (r.ChecksumErrors || r.FormatErrors)
    throw Error(kExitFile,
                "file damaged: " + fileName + " has " + std::to_string(r.ChecksumErrors) +
                    " data record(s) with a bad checksum and " + std::to_string(r.FormatErrors) +
                    " malformed data record(s)",
                "nothing was sent to the pager; check the file");
  if (!r.HasData) throw Error(kExitFile, "file " + fileName + " holds no data records");
  // A file cut short loses its end record; a damaged header hints at a
  // damaged file. Neither is sent to a pager.
  if (!r.HasEnd || !r.EndGood)
    throw Error(kExitFile,
                "file damaged: " + fileName + " has no valid end record (S9); it may be cut short",
                "nothing was sent to the pager; check the file");
  if (r.HasHeader && r.HeaderBad)
    throw Error(kExitFile, "file damaged: " + fileName + " has a damaged header record (S0)",
                "nothing was sent to the pager; check the file");
  for (uint32_t a = 0; a < 0x10000; ++a) image.covered[a] = image.bytes[a] == second[a];
  if (image.CoveredCount() == 0)
    throw Error(kExitFile, "file " + fileName + " holds no data records");
  return image;
}

void SaveImage(const std::string& fileName, const std::string& text, uint32_t base,
               const BYTE* data, uint32_t length, const std::string& header) {
  auto s19 = Create<IS19File>(HOLM_PROGID_S19SUPPORT, IID_IS19File);
  ComPtr<IS19FileEx> ex;
  if (FAILED(s19.As(IID_IS19FileEx, &ex)))
    throw Error(kExitComponents, "\"Brenlow.S19SUPPORT\" lacks IS19FileEx");
  BSTR textString = ToBstr(text);
  std::vector<BYTE> headerBytes(header.begin(), header.end());
  S19ImageDesc desc{};
  desc.Text = &textString;
  desc.BaseAddress = static_cast<LONG>(base);
  desc.Header = headerBytes.data();
  desc.HeaderSize = static_cast<LONG>(headerBytes.size());
  desc.Data = const_cast<BYTE*>(data);
  desc.DataSize = static_cast<LONG>(length);
  S19FileInfo options{};
  options.HasHeader = 1;
  options.HasData = 1;
  options.HasEnd = 1;
  HRESULT hr = ex->WriteImageFileEx(ToBstr(fileName, TextKind::kFileName), &desc, &options);
  SysFreeString(textString);  // released by the writer; freeing null is harmless
  if (FAILED(hr)) FileFailure(s19, "write", fileName, hr);
}

}  // namespace tarnctl
