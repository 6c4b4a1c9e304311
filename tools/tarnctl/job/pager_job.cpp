#include "pager_job.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>

#include "errors.h"
#include "platform.h"
#include "serial/numbers.h"
#include "settings.h"
#include "write_plan.h"

namespace tarnctl {
namespace {

double Seconds(double fromMs) {
  return (platform::NowMs() - fromMs) / 1000.0;
}

uint32_t Total(const std::vector<Block>& blocks) {
  uint32_t n = 0;
  for (const Block& b : blocks) n += b.length;
  return n;
}

// True when a failed block sent none of its data: the transfer stopped
// before it, or the pager refused the transaction before the data step.
bool NothingSent(const Error& e, long code) {
  if (e.ExitCodeValue() == kExitInterrupted || e.ExitCodeValue() == kExitUsage) return true;
  switch (code) {
    case TARN_ERROR_CANT_OPEN_PORT:
    case TARN_ERROR_CANT_INITIALIZE:
    case TARN_ERROR_UNSUPPORTED_PAGER:
    case TARN_ERROR_NO_ANSWER:
    case TARN_ERROR_PAGER_DISABLED:
    case TARN_ERROR_WRONG_PASSWORD:
    case TARN_ERROR_PASSWORD_REQUIRED:
      return true;
    default:
      return false;
  }
}

std::string MismatchText(uint32_t at, BYTE file, BYTE pager) {
  char t[96];
  std::snprintf(t, sizeof t, "verify mismatch at 0x%04X: file %02X, pager %02X", at, file, pager);
  return t;
}

class Job {
 public:
  Job(const JobSpec& spec, PagerSession& session, JobRecord& record, JobObserver* observer,
      const std::string& settings)
      : spec_(spec), session_(session), r_(record), observer_(observer), settings_(settings) {}

  void Run() {
    switch (spec_.kind) {
      case JobKind::kIdentify: {
        Phase("identify");
        PagerIdentity id;
        if (session_.Identify(&id) != S_OK) session_.Fail("identify");
        break;
      }
      case JobKind::kActivate: {
        Phase("activate");
        double t0 = platform::NowMs();
        session_.Activate();
        r_.activateS = Seconds(t0);
        break;
      }
      case JobKind::kVerify:
        VerifyBlocks(spec_.image->Blocks(spec_.block));
        break;
      case JobKind::kWrite:
        if (spec_.changedOnly)
          WriteChanged();
        else
          WriteAll();
        break;
    }
  }

 private:
  void Phase(const char* p) {
    if (!observer_) return;
    const PagerIdentity& id = session_.LastIdentity();
    if (id.pagerType != 0) observer_->Pager(PrintableBytes(id.infoId.data(), id.infoId.size()));
    observer_->Phase(p);
  }

  void VerifyBlocks(const std::vector<Block>& blocks) {
    Phase("verify");
    double t0 = platform::NowMs();
    BYTE actual = 0;
    std::optional<uint32_t> bad;
    try {
      bad = session_.Verify(blocks, spec_.image->bytes.data(), &actual);
    } catch (const Error& e) {
      if (e.ExitCodeValue() != kExitInterrupted || spec_.kind != JobKind::kWrite) throw;
      throw Error(
          kExitInterrupted,
          std::string("interrupted during verify: ") + e.what() + "; the write was complete",
          "run verify to check what the pager holds");
    }
    r_.verifyS += Seconds(t0);
    r_.readBytes += Total(blocks);
    r_.readBlocks += static_cast<uint32_t>(blocks.size());
    if (bad)
      throw Error(kExitMismatch, MismatchText(*bad, spec_.image->bytes[*bad], actual),
                  "write the file again; if it repeats, the pager's memory may be faulty there");
  }

  void WriteBlocks(const std::vector<Block>& blocks) {
    Phase("write");
    double t0 = platform::NowMs();
    uint32_t before = r_.writtenBlocks;
    try {
      session_.Write(blocks, spec_.image->bytes.data());
    } catch (const Error& e) {
      r_.writeS += Seconds(t0);
      // Part of the image is on the pager once a block was done, or when
      // the failing block got past the pager's verdict.
      r_.partialWrite = r_.writtenBlocks > before || !NothingSent(e, session_.LastErrorCode());
      throw;
    }
    r_.writeS += Seconds(t0);
    r_.partialWrite = false;  // complete; the read-back does not change it
  }

  void WriteAll() {
    std::vector<Block> blocks = spec_.image->Blocks(spec_.block);
    r_.plannedBlocks = static_cast<uint32_t>(blocks.size());
    WriteBlocks(blocks);
    if (spec_.verify) VerifyBlocks(blocks);
  }

  void WriteChanged() {
    const MemoryImage& image = *spec_.image;
    std::vector<Block> blocks = image.Blocks(spec_.block);
    std::vector<BYTE> pager(0x10000, 0);
    Phase("read");
    double t0 = platform::NowMs();
    if (!blocks.empty()) session_.Read(blocks, pager.data() + blocks.front().address);
    r_.readS = Seconds(t0);
    r_.readBytes += Total(blocks);
    r_.readBlocks += static_cast<uint32_t>(blocks.size());
    LineCosts costs;
    uint32_t baud =
        serial::ReadStrtoul32(SettingsValue(settings_, "baud").value_or("9600").c_str());
    costs.baud = baud ? static_cast<uint32_t>(baud) : 9600;
    costs.progress = spec_.progressAttached;
    costs.passwordAsked = session_.LastIdentity().statusChar == 'Y';
    WritePlan plan =
        PlanWrites(image.bytes, pager, image.covered, spec_.block, spec_.verify, costs);
    r_.plannedBlocks = static_cast<uint32_t>(plan.writes.size());
    r_.planned = true;
    r_.plan = plan.writes;
    r_.skippedBytes = plan.skippedBytes;
    r_.estimateS = plan.estimateMs / 1000.0;
    if (spec_.dryRun) return;
    WriteBlocks(plan.writes);
    if (spec_.verify) VerifyBlocks(plan.writes);
  }

  const JobSpec& spec_;
  PagerSession& session_;
  JobRecord& r_;
  JobObserver* observer_;
  std::string settings_;
};

void FillIdentity(PagerSession& session, JobRecord* r) {
  const PagerIdentity& id = session.LastIdentity();
  if (id.pagerType == 0 && id.statusChar == 0) return;  // never answered
  r->pagerType = HexBytes(&id.pagerType, 1);
  r->infoId = PrintableBytes(id.infoId.data(), id.infoId.size());
  r->status = PrintableBytes(&id.statusChar, 1);
}

}  // namespace

const char* JobName(JobKind kind) {
  switch (kind) {
    case JobKind::kIdentify:
      return "identify";
    case JobKind::kWrite:
      return "write";
    case JobKind::kVerify:
      return "verify";
    case JobKind::kActivate:
      return "activate";
  }
  return "?";
}

JobRecord RunPagerJob(const JobSpec& spec, const SessionOptions& options, JobObserver* observer) {
  JobRecord r;
  r.time = UtcTimestamp();
  r.command = JobName(spec.kind);
  r.port = SettingsValue(options.settings, "device").value_or("");
  r.file = spec.file;
  r.sha256 = spec.sha256;
  r.changedOnly = spec.changedOnly && spec.kind == JobKind::kWrite;
  r.dryRun = spec.dryRun && r.changedOnly;
  double start = platform::NowMs();
  SessionOptions own = options;
  own.blockDone = [&r, outer = options.blockDone](const char* verb, const Block& b) {
    if (std::string(verb) == "write") {
      r.writtenBytes += b.length;
      r.writtenBlocks += 1;
    }
    if (outer) outer(verb, b);
  };
  std::optional<PagerSession> session;
  try {
    session.emplace(own);
    Job(spec, *session, r, observer, options.settings).Run();
  } catch (const Error& e) {
    r.result = e.ExitCodeValue() == kExitInterrupted ? "interrupted" : "failed";
    r.exitCode = e.ExitCodeValue();
    r.errorText = e.what();
    r.hint = e.Hint();
    if (session) r.errorCode = session->LastErrorCode();
  } catch (const std::exception& e) {
    r.result = "failed";
    r.exitCode = kExitPager;
    r.errorText = e.what();
  }
  if (session) FillIdentity(*session, &r);
  if (session && observer && !r.pagerType.empty())
    observer->Identity(session->Device(), session->LastIdentity());
  r.totalS = Seconds(start);
  return r;
}

}  // namespace tarnctl
