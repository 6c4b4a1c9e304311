// The checks and the in-place writing of `read -o`; see output_file.h.
#include "output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "errors.h"
#include "image.h"
#include "platform.h"

namespace tarnctl {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Refuse(const std::string& file, const std::string& why,
                         const std::string& hint = "nothing was read from the pager") {
  throw Error(kExitFile, "cannot write " + file + ": " + why, hint);
}

// The folder a new file at `path` goes into must exist and take new files.
void CheckFolder(const std::string& file, const fs::path& path) {
  fs::path parent = fs::absolute(path).parent_path();
  std::error_code ec;
  if (!fs::is_directory(parent, ec))
    Refuse(file, "the folder " + parent.string() + " does not exist");
  if (!platform::CanWrite(parent.string()))
    Refuse(file, "no permission to create files in the folder " + parent.string());
}

bool UnderDev(const std::string& file) {
  std::string p = fs::absolute(file).lexically_normal().string();
  return p.rfind("/dev/", 0) == 0;
}

// The target a symbolic link leads to, when it exists.
OutputTarget ThroughLink(const std::string& file) {
  std::error_code ec;
  fs::file_status st = fs::status(file, ec);
  if (!fs::exists(st)) {  // dangling: the file it names is created
    fs::path target = fs::read_symlink(file, ec);
    if (target.is_relative()) target = fs::absolute(file).parent_path() / target;
    CheckFolder(file, target);
    return {OutputTarget::kInPlace, file};
  }
  if (fs::is_directory(st)) Refuse(file, "it leads to a folder");
  if (!platform::CanWrite(file)) Refuse(file, "the file it leads to is read-only");
  return {OutputTarget::kInPlace, file};
}

}  // namespace

OutputTarget CheckOutputTarget(const std::string& file) {
  if (file == "-") return {OutputTarget::kStandardOutput, file};
  if (file.empty()) throw Error(kExitUsage, "-o needs a file name (\"-\" for standard output)");
  std::error_code ec;
  fs::file_status own = fs::symlink_status(file, ec);
  if (!fs::exists(own) && !fs::is_symlink(own)) {
    CheckFolder(file, file);
    return {OutputTarget::kReplace, file};
  }
  if (platform::IsStandardOutput(file)) return {OutputTarget::kStandardOutput, file};
  if (fs::is_symlink(own)) return ThroughLink(file);
  switch (own.type()) {
    case fs::file_type::directory:
      Refuse(file, "it is a folder");
    case fs::file_type::block:
    case fs::file_type::socket:
      Refuse(file, "it is a disk device or a socket, not a file");
    case fs::file_type::regular:
      break;
    default:  // character devices and pipes
      if (!platform::CanWrite(file)) Refuse(file, "no permission to write it");
      return {OutputTarget::kInPlace, file};
  }
  if (!platform::CanWrite(file))
    Refuse(file, "it is read-only",
           "tarnctl does not replace a read-only file; choose another name");
  fs::path parent = fs::absolute(file).parent_path();
  if (UnderDev(file) || fs::hard_link_count(file, ec) > 1 || !platform::CanWrite(parent.string()))
    return {OutputTarget::kInPlace, file};
  return {OutputTarget::kReplace, file};
}

fs::path MakePrivateFolder(const std::string& prefix) {
  std::error_code ec;
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = fs::temp_directory_path(ec) / (prefix + std::to_string(random()));
    if (fs::create_directory(candidate, ec)) return candidate;
  }
  return {};
}

void WriteOutput(const OutputTarget& target, const std::string& text, uint32_t base,
                 const BYTE* data, uint32_t length, const std::string& header) {
  if (target.kind == OutputTarget::kReplace) {
    SaveImage(target.path, text, base, data, length, header);
    return;
  }
  // The writer makes the text in a private folder; it is copied from there.
  std::error_code ec;
  fs::path dir = MakePrivateFolder("tarnctl-out-");
  if (dir.empty()) Refuse(target.path, "no temporary folder", "set TMPDIR to a writable folder");
  std::string s19;
  try {
    SaveImage((dir / "image.s19").string(), text, base, data, length, header);
    std::ifstream in(dir / "image.s19", std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    s19 = all.str();
  } catch (...) {
    fs::remove_all(dir, ec);
    throw;
  }
  fs::remove_all(dir, ec);
  if (target.kind == OutputTarget::kStandardOutput) {
    std::fflush(stdout);
    if (std::fwrite(s19.data(), 1, s19.size(), stdout) != s19.size() || std::fflush(stdout) != 0)
      Refuse("standard output", std::strerror(errno), "the pager's memory was read");
    return;
  }
  std::ofstream out(target.path, std::ios::binary | std::ios::trunc);
  if (!out) Refuse(target.path, std::strerror(errno), "the pager's memory was read");
  errno = 0;
  out.write(s19.data(), static_cast<std::streamsize>(s19.size()));
  out.flush();
  if (!out)
    Refuse(target.path, errno ? std::strerror(errno) : "write error",
           "the pager's memory was read");
}

}  // namespace tarnctl
