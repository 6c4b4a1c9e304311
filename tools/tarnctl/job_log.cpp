#include "job_log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

#include "errors.h"

namespace tarnctl {
namespace {

std::mutex g_logLock;

std::string Number(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%.3f", v);
  return t;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char t[8];
      std::snprintf(t, sizeof t, "\\u%04x", c);
      out += t;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string ToJson(const JobRecord& r) {
  std::string s = "{";
  auto text = [&](const char* key, const std::string& v) {
    s += std::string(s.size() > 1 ? "," : "") + "\"" + key + "\":" + JsonString(v);
  };
  auto raw = [&](const char* key, const std::string& v) {
    s += std::string(s.size() > 1 ? "," : "") + "\"" + key + "\":" + v;
  };
  auto flag = [&](const char* key, bool v) { raw(key, v ? "true" : "false"); };
  text("time", r.time);
  text("command", r.command);
  text("port", r.port);
  text("pager_type", r.pagerType);
  text("info_id", r.infoId);
  text("status", r.status);
  text("file", r.file);
  text("sha256", r.sha256);
  flag("changed_only", r.changedOnly);
  flag("dry_run", r.dryRun);
  raw("read_bytes", std::to_string(r.readBytes));
  raw("read_blocks", std::to_string(r.readBlocks));
  raw("written_bytes", std::to_string(r.writtenBytes));
  raw("written_blocks", std::to_string(r.writtenBlocks));
  raw("skipped_bytes", std::to_string(r.skippedBytes));
  raw("planned_blocks", std::to_string(r.plannedBlocks));
  raw("estimate_s", Number(r.estimateS));
  flag("partial_write", r.partialWrite);
  text("result", r.result);
  raw("exit_code", std::to_string(r.exitCode));
  raw("error_code", std::to_string(r.errorCode));
  text("error_text", r.errorText);
  raw("attempts", std::to_string(r.attempts));
  raw("read_s", Number(r.readS));
  raw("write_s", Number(r.writeS));
  raw("verify_s", Number(r.verifyS));
  raw("activate_s", Number(r.activateS));
  raw("total_s", Number(r.totalS));
  return s + "}";
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

void AppendJobLog(const std::string& fileName, const JobRecord& record) {
  std::string line = ToJson(record) + "\n";
  std::lock_guard<std::mutex> guard(g_logLock);
  std::FILE* f = std::fopen(fileName.c_str(), "ab");
  bool ok = f && std::fwrite(line.data(), 1, line.size(), f) == line.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok)
    throw Error(kExitFile, "cannot append to the job log " + fileName,
                "check the file name, the folder and its permissions");
}

}  // namespace tarnctl
