// Throughput of the S-record codec on a large file (about 64 MiB of record
// text), beside srec_cat and objcopy converting the same data in the same
// run. Prints MB/s of record text; it is a benchmark, not a test.
//
//   bench_srecord [megabytes of record text] [scratch folder]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "holm/srecord/srecord.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(const std::function<void()>& job) {
  auto start = Clock::now();
  job();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Best of a few runs, so that one busy moment does not decide the figure.
double Best(int runs, const std::function<void()>& job) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) best = std::min(best, Seconds(job));
  return best;
}

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

void Report(const char* what, double bytes, double seconds) {
  std::printf("%-44s %9.1f MB/s  (%.3f s)\n", what, bytes / seconds / 1e6, seconds);
}

bool failed = false;

void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::printf("  (command failed: %s)\n", command.c_str());
    failed = true;
  }
}

// Reports a tool's figure unless its command failed.
void ReportTool(const char* what, double bytes, double seconds) {
  if (!failed) Report(what, bytes, seconds);
  failed = false;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 64.0;
  fs::path dir = argc > 2
                     ? fs::path(argv[2])
                     : fs::temp_directory_path() / ("bench_srecord_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string s19 = (dir / "image.s19").string();
  const std::string bin = (dir / "image.bin").string();

  // A full record (16 data bytes) is 42 characters plus the line end; the
  // addresses of a data buffer this large wrap around 64 KiB many times.
  const size_t dataBytes = static_cast<size_t>(megabytes * 1024 * 1024 / 43.0 * 16.0) & ~size_t{15};
  std::vector<uint8_t> data(dataBytes);
  uint32_t x = 12345;
  for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  {
    FILE* f = std::fopen(bin.c_str(), "wb");
    if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) return 1;
    std::fclose(f);
  }
  const int32_t length = static_cast<int32_t>(dataBytes);

  // The file every reader and tool reads holds the S1 records and the S9
  // record only: objcopy refuses the address-less S0 record this codec
  // writes for an empty header ("byte count 1 too small").
  holm::FileInfo dataAndEnd;
  dataAndEnd.HasData = dataAndEnd.HasEnd = 1;
  const holm::ImageDesc source{0, nullptr, 0, data.data(), length};
  double writeEx = Best(3, [&] { holm::WriteImageFileEx(s19, "", source, dataAndEnd); });
  const double textBytes = static_cast<double>(fs::file_size(s19));
  std::printf("record text: %.1f MiB, %zu data bytes, %zu records\n\n", textBytes / 1048576.0,
              dataBytes, dataBytes / 16);
  Report("WriteImageFileEx (S1 + S9)", textBytes, writeEx);
  const std::string full = (dir / "full.s19").string();
  double write =
      Best(3, [&] { holm::WriteImageFile(full, "bench", 0, nullptr, 0, data.data(), length); });
  const double fullBytes = static_cast<double>(fs::file_size(full));
  Report("WriteImageFile (text, S0, S1, S9)", fullBytes, write);

  std::vector<uint8_t> image(65536);
  holm::ImageDesc desc{0, nullptr, 0, image.data(), 65536};
  holm::FileInfo info;
  double tolerant =
      Best(3, [&] { holm::ReadImageFileEx(s19, desc, info, [](std::string_view) {}); });
  Report("ReadImageFileEx (tolerant)", textBytes, tolerant);
  if (info.ChecksumErrors || info.FormatErrors || !info.HasData)
    std::printf("  unexpected report: %d checksum, %d format errors\n", info.ChecksumErrors,
                info.FormatErrors);
  double strict = Best(3, [&] {
    holm::ReadImageFile(
        full, [](std::string_view) {}, 0, nullptr, 0, image.data(), 65536);
  });
  Report("ReadImageFile (strict, WriteImageFile's file)", fullBytes, strict);
  fs::remove(full);

  if (HaveTool("objcopy")) {
    const std::string out = (dir / "objcopy.s19").string();
    double w = Best(3, [&] { Shell("objcopy -I binary -O srec " + bin + " " + out); });
    ReportTool("objcopy binary -> srec (its own text)", static_cast<double>(fs::file_size(out)), w);
    fs::remove(out);
    const std::string back = (dir / "objcopy.bin").string();
    double r = Best(3, [&] { Shell("objcopy -I srec -O binary " + s19 + " " + back); });
    ReportTool("objcopy srec -> binary", textBytes, r);
    fs::remove(back);
  } else {
    std::printf("objcopy not installed\n");
  }
  if (HaveTool("srec_cat")) {
    const std::string out = (dir / "srec_cat.s19").string();
    double w = Best(1, [&] {
      Shell("srec_cat " + bin + " -binary -o " + out + " -address-length=2 2>/dev/null");
    });
    ReportTool("srec_cat binary -> srec (its own text)", static_cast<double>(fs::file_size(out)),
               w);
    fs::remove(out);
    const std::string back = (dir / "srec_cat.bin").string();
    double r = Best(
        1, [&] { Shell("srec_cat " + s19 + " -multiple -o " + back + " -binary 2>/dev/null"); });
    ReportTool("srec_cat srec -> binary", textBytes, r);
    fs::remove(back);
  } else {
    std::printf("srec_cat not installed\n");
  }
  fs::remove_all(dir);
  return 0;
}
