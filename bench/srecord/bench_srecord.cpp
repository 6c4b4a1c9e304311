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

// The scratch files every figure is taken on.
struct Files {
  fs::path dir;
  std::string s19;  // S1 and S9 records only, written by WriteImageFileEx
  std::string bin;  // the same data, raw
  double textBytes = 0;
};

// Random data of about `megabytes` of record text, written raw to `bin`
// (false when it cannot be). A full record (16 data bytes) is 42 characters
// plus the line end; the addresses of a data buffer this large wrap around
// 64 KiB many times.
bool MakeData(double megabytes, const std::string& bin, std::vector<uint8_t>* data) {
  const size_t dataBytes = static_cast<size_t>(megabytes * 1024 * 1024 / 43.0 * 16.0) & ~size_t{15};
  data->resize(dataBytes);
  uint32_t x = 12345;
  for (auto& b : *data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  FILE* f = std::fopen(bin.c_str(), "wb");
  if (!f || std::fwrite(data->data(), 1, data->size(), f) != data->size()) return false;
  std::fclose(f);
  return true;
}

// The codec's writers and readers. The file every reader and tool reads holds
// the S1 records and the S9 record only: objcopy refuses the address-less S0
// record this codec writes for an empty header ("byte count 1 too small").
void BenchCodec(Files& files, std::vector<uint8_t>& data) {
  const int32_t length = static_cast<int32_t>(data.size());
  holm::FileInfo dataAndEnd;
  dataAndEnd.HasData = dataAndEnd.HasEnd = 1;
  const holm::ImageDesc source{0, nullptr, 0, data.data(), length};
  double writeEx = Best(3, [&] { holm::WriteImageFileEx(files.s19, "", source, dataAndEnd); });
  files.textBytes = static_cast<double>(fs::file_size(files.s19));
  std::printf("record text: %.1f MiB, %zu data bytes, %zu records\n\n", files.textBytes / 1048576.0,
              data.size(), data.size() / 16);
  Report("WriteImageFileEx (S1 + S9)", files.textBytes, writeEx);
  const std::string full = (files.dir / "full.s19").string();
  double write =
      Best(3, [&] { holm::WriteImageFile(full, "bench", 0, nullptr, 0, data.data(), length); });
  const double fullBytes = static_cast<double>(fs::file_size(full));
  Report("WriteImageFile (text, S0, S1, S9)", fullBytes, write);

  std::vector<uint8_t> image(65536);
  holm::ImageDesc desc{0, nullptr, 0, image.data(), 65536};
  holm::FileInfo info;
  double tolerant =
      Best(3, [&] { holm::ReadImageFileEx(files.s19, desc, info, [](std::string_view) {}); });
  Report("ReadImageFileEx (tolerant)", files.textBytes, tolerant);
  if (info.ChecksumErrors || info.FormatErrors || !info.HasData)
    std::printf("  unexpected report: %d checksum, %d format errors\n", info.ChecksumErrors,
                info.FormatErrors);
  double strict = Best(3, [&] {
    holm::ReadImageFile(
        full, [](std::string_view) {}, 0, nullptr, 0, image.data(), 65536);
  });
  Report("ReadImageFile (strict, WriteImageFile's file)", fullBytes, strict);
  fs::remove(full);
}

// A tool's command line that converts the file `in` into the file `out`.
using Command = std::function<std::string(const std::string& in, const std::string& out)>;

// One tool converting the raw data to records and the codec's records back.
void BenchTool(const char* tool, const Files& files, int runs, const Command& toRecords,
               const Command& toBinary) {
  if (!HaveTool(tool)) {
    std::printf("%s not installed\n", tool);
    return;
  }
  const std::string name = tool;
  const std::string out = (files.dir / (name + ".s19")).string();
  double w = Best(runs, [&] { Shell(toRecords(files.bin, out)); });
  ReportTool((name + " binary -> srec (its own text)").c_str(),
             static_cast<double>(fs::file_size(out)), w);
  fs::remove(out);
  const std::string back = (files.dir / (name + ".bin")).string();
  double r = Best(runs, [&] { Shell(toBinary(files.s19, back)); });
  ReportTool((name + " srec -> binary").c_str(), files.textBytes, r);
  fs::remove(back);
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 64.0;
  Files files;
  files.dir = argc > 2 ? fs::path(argv[2])
                       : fs::temp_directory_path() / ("bench_srecord_" + std::to_string(getpid()));
  fs::create_directories(files.dir);
  files.s19 = (files.dir / "image.s19").string();
  files.bin = (files.dir / "image.bin").string();
  std::vector<uint8_t> data;
  if (!MakeData(megabytes, files.bin, &data)) return 1;
  BenchCodec(files, data);
  using S = const std::string&;
  BenchTool(
      "objcopy", files, 3,
      [](S in, S out) { return "objcopy -I binary -O srec " + in + " " + out; },
      [](S in, S out) { return "objcopy -I srec -O binary " + in + " " + out; });
  BenchTool(
      "srec_cat", files, 1,
      [](S in, S out) {
        return "srec_cat " + in + " -binary -o " + out + " -address-length=2 2>/dev/null";
      },
      [](S in, S out) {
        return "srec_cat " + in + " -multiple -o " + out + " -binary 2>/dev/null";
      });
  fs::remove_all(files.dir);
  return 0;
}
