// The job record as JSON and the job log; see job_log.h.
#include "job_log.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "errors.h"

namespace tarnctl {
namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Length of the well-formed UTF-8 sequence at s[i] (1 to 4), or 0 when the
// byte there does not begin one: no overlong forms, no surrogates, nothing
// above U+10FFFF.
size_t Utf8Length(const std::string& s, size_t i) {
  auto byte = [&](size_t k) -> unsigned {
    return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
  };
  auto tail = [&](size_t k, unsigned lo = 0x80, unsigned hi = 0xBF) {
    return byte(k) >= lo && byte(k) <= hi;
  };
  unsigned c = byte(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return tail(1) ? 2 : 0;
  if (c == 0xE0) return tail(1, 0xA0) && tail(2) ? 3 : 0;
  if (c == 0xED) return tail(1, 0x80, 0x9F) && tail(2) ? 3 : 0;
  if (c >= 0xE1 && c <= 0xEF) return tail(1) && tail(2) ? 3 : 0;
  if (c == 0xF0) return tail(1, 0x90) && tail(2) && tail(3) ? 4 : 0;
  if (c >= 0xF1 && c <= 0xF3) return tail(1) && tail(2) && tail(3) ? 4 : 0;
  if (c == 0xF4) return tail(1, 0x80, 0x8F) && tail(2) && tail(3) ? 4 : 0;
  return 0;
}

// Seconds with millisecond resolution, as the record shows them.
double Millis(double seconds) {
  return std::round(seconds * 1000.0) / 1000.0;
}

}  // namespace

std::string RecordText(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    size_t n = Utf8Length(bytes, i);
    bool escapedPercent = bytes[i] == '%' && i + 2 < bytes.size() && IsHexDigit(bytes[i + 1]) &&
                          IsHexDigit(bytes[i + 2]);
    if (n == 0 || escapedPercent) {
      unsigned char c = static_cast<unsigned char>(bytes[i]);
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
      i += 1;
    } else {
      out.append(bytes, i, n);
      i += n;
    }
  }
  return out;
}

std::string RangesText(const std::vector<Block>& blocks) {
  if (blocks.empty()) return "none";
  std::string s;
  for (const Block& b : blocks)
    s += (s.empty() ? "" : ", ") + Hex4(b.address) + "-" + Hex4(b.address + b.length - 1);
  return s;
}

std::string ToJson(const JobRecord& r) {
  nlohmann::ordered_json j;
  j["time"] = RecordText(r.time);
  j["command"] = RecordText(r.command);
  j["port"] = RecordText(r.port);
  j["pager_type"] = RecordText(r.pagerType);
  j["info_id"] = RecordText(r.infoId);
  j["status"] = RecordText(r.status);
  j["file"] = RecordText(r.file);
  j["sha256"] = RecordText(r.sha256);
  j["changed_only"] = r.changedOnly;
  j["dry_run"] = r.dryRun;
  j["read_bytes"] = r.readBytes;
  j["read_blocks"] = r.readBlocks;
  j["written_bytes"] = r.writtenBytes;
  j["written_blocks"] = r.writtenBlocks;
  j["skipped_bytes"] = r.skippedBytes;
  j["planned_blocks"] = r.plannedBlocks;
  if (r.planned) {
    nlohmann::ordered_json plan = nlohmann::ordered_json::array();
    for (const Block& b : r.plan) plan.push_back({{"address", b.address}, {"length", b.length}});
    j["plan"] = plan;
  }
  j["estimate_s"] = Millis(r.estimateS);
  j["partial_write"] = r.partialWrite;
  j["result"] = RecordText(r.result);
  j["exit_code"] = r.exitCode;
  j["error_code"] = r.errorCode;
  j["error_text"] = RecordText(r.errorText);
  j["attempts"] = r.attempts;
  j["read_s"] = Millis(r.readS);
  j["write_s"] = Millis(r.writeS);
  j["verify_s"] = Millis(r.verifyS);
  j["activate_s"] = Millis(r.activateS);
  j["total_s"] = Millis(r.totalS);
  return j.dump();
}

std::string UtcTimestamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &now);
#else
  gmtime_r(&now, &tm);
#endif
  char t[32];
  std::strftime(t, sizeof t, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return t;
}

JobLog::JobLog(const std::string& fileName) : fileName_(fileName) {
  file_ = std::fopen(fileName.c_str(), "ab");
  if (!file_)
    throw Error(kExitFile,
                "cannot open the job log " + fileName + ": " + std::strerror(errno) +
                    "; nothing was started",
                "check the file name, the folder and its permissions");
  // Unbuffered: each record goes out in one write, at once.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

JobLog::~JobLog() {
  if (file_) std::fclose(file_);
}

bool JobLog::Append(const JobRecord& record, std::string* why) {
  std::string line = ToJson(record) + "\n";
  std::lock_guard<std::mutex> guard(lock_);
  errno = 0;
  if (std::fwrite(line.data(), 1, line.size(), file_) == line.size()) return true;
  if (why) *why = errno ? std::strerror(errno) : "short write";
  std::clearerr(file_);
  return false;
}

}  // namespace tarnctl
