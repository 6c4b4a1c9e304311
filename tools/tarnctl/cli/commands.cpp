#include "commands.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bstr_text.h"
#include "components.h"
#include "errors.h"
#include "file_checks.h"
#include "human_report.h"
#include "image.h"
#include "output_file.h"
#include "pager_job.h"
#include "platform.h"
#include "port_access.h"
#include "serial/port_name.h"
#include "settings.h"
#include "settings_check.h"
#include "sim.h"

namespace tarnctl {
namespace {

namespace fs = std::filesystem;

std::string Seconds(double ms) {
  char t[32];
  std::snprintf(t, sizeof t, "%.1f s", ms / 1000.0);
  return t;
}

const char* StatusMeaning(BYTE status) {
  switch (status) {
    case 'O':
      return "ready";
    case 'Y':
      return "ready, asks for the download password";
    case 'D':
      return "disabled";
    default:
      return "pager-specific status";
  }
}

std::string StatusText(BYTE status) {
  char t[16];
  std::snprintf(t, sizeof t, "%02X", status);
  std::string s = t;
  if (status >= 0x20 && status < 0x7F) s += std::string(" '") + char(status) + "'";
  return s + " (" + StatusMeaning(status) + ")";
}

void PrintField(const char* name, const BYTE* data, size_t n) {
  std::printf("%-14s %s  |%s|\n", name, HexBytes(data, n).c_str(), PrintableBytes(data, n).c_str());
}

}  // namespace

std::string ActivatedText(double ms, const PagerIdentity& id) {
  return "activated in " + Seconds(ms) + "; pager " + InfoIdText(id) + " now reports status " +
         StatusText(id.statusChar);
}

void PrintIdentity(const std::string& device, const PagerIdentity& id) {
  std::printf("%-14s %s\n", "device", device.c_str());
  std::printf("%-14s %02X%s\n", "pager type", id.pagerType,
              id.pagerType == 0x8B ? " (supported)" : "");
  std::printf("%-14s %s\n", "status", StatusText(id.statusChar).c_str());
  PrintField("info block", id.infoBlock.data(), id.infoBlock.size());
  PrintField("info id", id.infoId.data(), id.infoId.size());
  PrintField("first record", id.firstRecord.data(), id.firstRecord.size());
  PrintField("second record", id.secondRecord.data(), id.secondRecord.size());
}

namespace {

uint32_t TotalBytes(const std::vector<Block>& blocks) {
  uint32_t n = 0;
  for (const Block& b : blocks) n += b.length;
  return n;
}

double Now() {
  return platform::NowMs();
}

// printf to standard output unless quiet, flushed at once (the demo's steps).
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void Say(bool quiet, const char* format, ...) {
  if (quiet) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

// What a mismatch found by `write` (and the demo) tells the user to do.
const char* kWriteAgainHint =
    "write the file again; if it repeats, the pager's memory may be faulty or write-protected "
    "there";

// Writes the blocks; returns the milliseconds it took.
double TimedWrite(PagerSession& session, const MemoryImage& image,
                  const std::vector<Block>& blocks) {
  double t0 = Now();
  session.Write(blocks, image.bytes.data());
  return Now() - t0;
}

// Reads the blocks back and compares them with the image; returns the
// milliseconds it took. A difference throws Error (exit 5) with `hint`.
double TimedVerify(PagerSession& session, const MemoryImage& image,
                   const std::vector<Block>& blocks, const char* hint) {
  double t0 = Now();
  BYTE actual = 0;
  std::optional<uint32_t> bad = session.Verify(blocks, image.bytes.data(), &actual);
  if (bad) {
    char t[160];
    std::snprintf(t, sizeof t, "verify mismatch at 0x%04X: file %02X, pager %02X", *bad,
                  image.bytes[*bad], actual);
    throw Error(kExitMismatch, t, hint);
  }
  return Now() - t0;
}

// Removes the demo's folder on the way out unless the user keeps it.
struct DemoFolder {
  fs::path dir;
  bool keep;
  ~DemoFolder() {
    std::error_code ignored;
    if (!keep) fs::remove_all(dir, ignored);
  }
};

// The sample image: a text line followed by a counting pattern, `size`
// bytes at 0x1000. Returns the file's path.
std::string SaveDemoImage(const fs::path& dir, uint32_t size, bool quiet) {
  const uint32_t base = 0x1000;
  std::vector<BYTE> sample(size);
  const char* banner = "Tarn and Holm demo image. ";
  for (uint32_t i = 0; i < size; ++i)
    sample[i] = i < 26 ? static_cast<BYTE>(banner[i]) : static_cast<BYTE>(i * 7 + 3);
  fs::path file = dir / "sample.s19";
  SaveImage(file.string(), "Sample image of the tarnctl demo", base, sample.data(), size, "demo");
  Say(quiet, "sample image: %u bytes at 0x%04X in %s\n", size, base, file.string().c_str());
  return file.string();
}

// What the demo's four steps saw and how long each took.
struct DemoSteps {
  PagerIdentity before;
  BYTE statusAfter = 0;
  uint32_t bytes = 0;
  size_t blocks = 0;
  double identifyMs = 0, writeMs = 0, verifyMs = 0, activateMs = 0;
};

// Identify, write, verify and activate, each step announced as it starts.
DemoSteps RunDemoSteps(PagerSession& session, const std::string& file, uint32_t size, bool quiet) {
  DemoSteps r;
  Say(quiet, "[1/4] identify\n");
  double t0 = Now();
  if (session.Identify(&r.before) != S_OK) session.Fail("identify");
  r.identifyMs = Now() - t0;
  if (!quiet) PrintIdentity(session.Device(), r.before);

  MemoryImage image = LoadImage(file);
  std::vector<Block> blocks = image.Blocks(size > 256 ? (size + 1) / 2 : size);
  r.bytes = TotalBytes(blocks);
  r.blocks = blocks.size();
  Say(quiet, "[2/4] write %u bytes in %u blocks (the protocol pauses ~3 s after each block)\n",
      r.bytes, static_cast<unsigned>(r.blocks));
  r.writeMs = TimedWrite(session, image, blocks);
  Say(quiet, "[3/4] verify\n");
  r.verifyMs = TimedVerify(session, image, blocks, kWriteAgainHint);
  Say(quiet, "[4/4] activate\n");
  t0 = Now();
  session.Activate();
  r.activateMs = Now() - t0;
  r.statusAfter = session.LastIdentity().statusChar;
  return r;
}

void PrintDemoSummary(const DemoSteps& r, double totalMs) {
  std::printf("\nsummary\n");
  std::printf("  identify   %8s  pager %s, status %s\n", Seconds(r.identifyMs).c_str(),
              InfoIdText(r.before).c_str(), StatusText(r.before.statusChar).c_str());
  std::printf("  write      %8s  %u bytes in %zu blocks, %.0f bytes/s including the pauses\n",
              Seconds(r.writeMs).c_str(), r.bytes, r.blocks,
              r.writeMs > 0 ? r.bytes * 1000.0 / r.writeMs : 0.0);
  std::printf("  verify     %8s  %u bytes read back, all equal\n", Seconds(r.verifyMs).c_str(),
              r.bytes);
  std::printf("  activate   %8s  status afterwards %s\n", Seconds(r.activateMs).c_str(),
              StatusText(r.statusAfter).c_str());
  std::printf("  total      %8s\n", Seconds(totalMs).c_str());
}

}  // namespace

SessionOptions ResolveSession(const CommonOptions& common) {
  SessionOptions s;
  if (!common.port.empty()) {
    s.settings = common.port;
    CheckSettings(s.settings, "--port");
  } else if (std::optional<std::string> saved = LoadSavedSettings()) {
    s.settings = *saved;
    CheckSettings(s.settings, "the saved settings (change them with `tarnctl setup`)");
  } else {
    s.settings = kDefaultPortSettings;
  }
  if (common.askPassword) {
    s.password = PasswordFromBytes(platform::ReadSecret("Download password: "));
  } else if (!common.passwordFile.empty()) {
    std::vector<std::string> warnings;
    s.password = ReadPasswordFile(common.passwordFile, &warnings);
    for (const std::string& w : warnings) std::fprintf(stderr, "tarnctl: warning: %s\n", w.c_str());
  }
  s.traceFile = common.traceFile;
  s.output.quiet = common.quiet;
  s.output.window = !common.noWindow && !common.quiet && platform::Interactive();
  return s;
}

int RunIdentify(const CommonOptions& common) {
  Runtime runtime;
  PagerSession session(ResolveSession(common));
  PagerIdentity id;
  HRESULT hr = session.Identify(&id);
  PrintIdentity(session.Device(), id);
  if (hr != S_OK) session.Fail("identify");
  return kExitOk;
}

int RunRead(const CommonOptions& common, uint32_t address, uint32_t length, const std::string& file,
            uint32_t block) {
  if (length == 0 || address > 0xFFFF || address + length > 0x10000)
    throw Error(kExitUsage,
                "the range " + Hex4(address) + " + " + std::to_string(length) +
                    " bytes does not lie in the pager's 64 KiB",
                "ADDR is 0..0xFFFF, LEN at least 1 and ADDR+LEN at most 0x10000");
  // The pager is read only when the file can be written afterwards.
  OutputTarget target = CheckOutputTarget(file);
  Runtime runtime;
  SessionOptions options = ResolveSession(common);
  if (target.kind == OutputTarget::kStandardOutput) {
    options.output.linesToStderr = true;
    options.output.window = false;
  }
  PagerSession session(options);
  std::vector<BYTE> memory(length);
  double t0 = Now();
  session.Read(SplitBlocks(address, length, block), memory.data());
  double ms = Now() - t0;
  const PagerIdentity& id = session.LastIdentity();
  std::string text = "Pager " + InfoIdText(id) + ", type " + HexBytes(&id.pagerType, 1) +
                     ", memory " + Hex4(address) + "-" + Hex4(address + length - 1) + ", " +
                     std::to_string(length) + " bytes, read by tarnctl";
  WriteOutput(target, text, address, memory.data(), length, "tarnctl");
  if (!common.quiet)
    std::fprintf(target.kind == OutputTarget::kStandardOutput ? stderr : stdout,
                 "read %u bytes %s-%s in %s into %s\n", length, Hex4(address).c_str(),
                 Hex4(address + length - 1).c_str(), Seconds(ms).c_str(), file.c_str());
  return kExitOk;
}

int RunWrite(const CommonOptions& common, const std::string& file, bool verify, uint32_t block) {
  Runtime runtime;
  MemoryImage image = LoadImage(file);  // a bad file fails before the password prompt
  SessionOptions options = ResolveSession(common);
  std::vector<Block> blocks = image.Blocks(block);
  PagerSession session(options);
  double writeMs = TimedWrite(session, image, blocks);
  double verifyMs = verify ? TimedVerify(session, image, blocks, kWriteAgainHint) : 0;
  if (!common.quiet)
    std::printf("%s\n", WroteText(TotalBytes(blocks), blocks.size(), writeMs / 1000.0, verify,
                                  verifyMs / 1000.0)
                            .c_str());
  return kExitOk;
}

int RunVerify(const CommonOptions& common, const std::string& file, uint32_t block) {
  Runtime runtime;
  MemoryImage image = LoadImage(file);  // a bad file fails before the password prompt
  SessionOptions options = ResolveSession(common);
  std::vector<Block> blocks = image.Blocks(block);
  PagerSession session(options);
  double ms = TimedVerify(session, image, blocks, "write the file with `tarnctl write`");
  if (!common.quiet)
    std::printf("%s\n", VerifiedText(TotalBytes(blocks), blocks.size(), ms / 1000.0).c_str());
  return kExitOk;
}

int RunActivate(const CommonOptions& common) {
  Runtime runtime;
  PagerSession session(ResolveSession(common));
  double t0 = Now();
  if (!common.quiet) {
    std::printf("%s\n", kActivateWaiting);
    std::fflush(stdout);
  }
  session.Activate();
  if (!common.quiet) std::printf("%s\n", ActivatedText(Now() - t0, session.LastIdentity()).c_str());
  return kExitOk;
}

int RunCmd(const CommonOptions& common, const std::vector<std::string>& tokens) {
  std::vector<ParsedCommand> commands;
  for (const std::string& t : tokens) commands.push_back(ParseCommand(t));  // all checked first
  Runtime runtime;
  PagerSession session(ResolveSession(common));
  for (const ParsedCommand& c : commands) {
    if (c.kind == ParsedCommand::kProbe) {
      // The probe stands apart from command mode: leave it first.
      if (session.InCommandMode()) {
        session.EndCommands();
        if (!common.quiet) std::printf("command mode: left\n");
      }
      HRESULT hr = session.Probe();
      if (!common.quiet)
        std::printf("probe: %s\n",
                    hr == S_OK ? "answered" : "sent (S_FALSE: the answer is not told apart)");
      continue;
    }
    if (!session.InCommandMode()) {
      session.BeginCommands();
      if (!common.quiet) std::printf("command mode: entered\n");
    }
    session.RunCommand(c);
    if (!common.quiet) std::printf("%s: ok\n", c.token.c_str());
  }
  if (session.InCommandMode()) {
    session.EndCommands();
    if (!common.quiet) std::printf("command mode: left\n");
  }
  return kExitOk;
}

int RunSetup(const CommonOptions& common, const std::optional<std::string>& set, bool show) {
  Runtime runtime;
  std::optional<std::string> saved = LoadSavedSettings();
  std::string current = saved.value_or(kDefaultPortSettings);
  if (show) {
    std::printf("%s%s\n", current.c_str(), saved ? "" : "   (default, nothing saved)");
    return kExitOk;
  }
  std::string chosen;
  if (set) {
    chosen = *set;
  } else {
    if (!platform::HaveTerminal())
      throw Error(kExitUsage, "the settings dialog needs a terminal",
                  "save settings without it: tarnctl setup --set \"device = COM1 baud = 9600\"");
    auto dialog = Create<IPortSetup>(HOLM_PROGID_PORTSETTINGS, IID_IPortSetup);
    // The dialog reads a missing "data" as 7 bits; keys the string leaves out
    // are filled in from tarnctl's defaults first, so OK without changes
    // never turns an 8-bit line into a 7-bit one.
    std::string start = common.port.empty() ? current : common.port;
    for (const SettingsPair& d : ParseSettings(kDefaultPortSettings))
      if (!SettingsValue(start, d.key)) start += " " + d.key + " = " + d.value;
    BSTR text = ToBstr(start);
    dialog->Change(&text);  // releases the old string, stores the new one
    chosen = FromBstr(text);
    SysFreeString(text);
    // The dialog offers COM ports only: any other device stays as it was.
    std::string device = SettingsValue(start, "device").value_or("");
    if (!device.empty() && !IsPortName(device)) chosen = WithDevice(chosen, device);
    // Cancel hands the text back as it went in; so does OK when nothing was
    // changed on a text already in the dialog's own form. Either way there
    // is nothing new to save.
    if (chosen == start) {
      if (!common.quiet) std::printf("unchanged: %s\n", chosen.c_str());
      return kExitOk;
    }
  }
  CheckSettings(chosen, set ? "--set" : "what the dialog returned");  // nothing bad is saved
  if (saved && chosen == *saved) {
    if (!common.quiet) std::printf("unchanged: %s\n", chosen.c_str());
    return kExitOk;
  }
  SaveSettings(chosen);
  if (!common.quiet) std::printf("saved: %s\n", chosen.c_str());
  return kExitOk;
}

// Why the user may not open `device`, with the fix, below its line.
static void PrintAccessAdvice(const std::string& device, bool busy = false) {
  for (const std::string& line : PortAccessAdviceFor(device, busy))
    std::printf("      %s\n", line.c_str());
}

int RunPorts(const std::vector<std::string>& maps) {
  Runtime runtime;
  // Every entry is checked before the first one is written.
  for (const std::string& m : maps) {
    if (m.find('=') == std::string::npos || !IsPortName(m.substr(0, m.find('='))))
      throw Error(kExitUsage, "--map takes COMn=DEVICE with n from 1 to 256, not \"" + m + "\"");
    MapTarget(m.substr(0, m.find('=')), m.substr(m.find('=') + 1));
  }
  for (const std::string& m : maps) MapPort(m.substr(0, m.find('=')), m.substr(m.find('=') + 1));
  std::vector<platform::SerialDevice> devices = platform::ListSerialDevices();
  std::printf("Serial devices:\n");
  if (devices.empty()) std::printf("  (none found)\n");
  for (const auto& d : devices) {
    std::printf("  %-16s %s\n", d.device.c_str(), d.description.c_str());
    int unchecked = 0;
    if (std::string held = platform::PortHolderText(d.device, &unchecked); !held.empty())
      std::printf("      busy: %s\n", held.c_str());
    PrintAccessAdvice(d.device);
  }
#ifndef _WIN32
  std::printf("COM port map (HKEY_CURRENT_USER\\%s):\n", serial::kPortMapKey);
  // COM1 to COM8 always, higher ports when the map names them.
  for (unsigned n = serial::kFirstPort; n <= serial::kLastPort; ++n) {
    bool fromMap = false;
    std::string name = serial::PortNameOf(n);
    std::string device = ResolveDevice(name, &fromMap);
    if (n > 8 && !fromMap) continue;
    std::string detail;
    platform::PortState state = platform::ProbePort(device, &detail);
    const char* presence = state == platform::PortState::kMissing      ? "missing"
                           : state == platform::PortState::kBusy       ? "busy"
                           : state == platform::PortState::kNoAccess   ? "no permission"
                           : state == platform::PortState::kCannotOpen ? "cannot be opened"
                                                                       : "present";
    // A busy port names its holder, as a job's "port busy" message does.
    std::string why;
    if (state == platform::PortState::kBusy && !detail.empty())
      why = detail.rfind("held by ", 0) == 0 ? " " + detail : " (" + detail + ")";
    std::printf("  %-6s -> %-18s %s, %s%s\n", name.c_str(), device.c_str(),
                fromMap ? "mapped" : "default", presence, why.c_str());
    if (state == platform::PortState::kNoAccess || state == platform::PortState::kBusy)
      PrintAccessAdvice(device, state == platform::PortState::kBusy);
  }
#endif
  std::optional<std::string> saved = LoadSavedSettings();
  std::string savedText =
      saved ? *saved : "(none; default " + std::string(kDefaultPortSettings) + ")";
  std::printf("Saved settings: %s\n", savedText.c_str());
  return kExitOk;
}

int RunRegister(const std::vector<std::string>& libraries, bool quiet) {
  Runtime runtime;
  for (const std::string& p : RegisterComponents(libraries))
    if (!quiet) std::printf("registered %s\n", p.c_str());
  return kExitOk;
}

int RunDemo(const CommonOptions& common, uint32_t size, bool keep, bool realPacing) {
  if (size == 0 || size > 4096)
    throw Error(kExitUsage, "--size is 1..4096 bytes",
                "the protocol's pauses are real time: keep the demo image small");
  // A private folder for the sample file and, unless the caller chose one, a
  // private registry, so the demo never touches the user's registrations.
  std::error_code ec;
  fs::path dir = MakePrivateFolder("tarnctl-demo-");
  if (dir.empty())
    throw Error(kExitFile,
                "cannot create a folder for the demo in " + fs::temp_directory_path(ec).string());
  DemoFolder cleanup{dir, keep};
  if (!std::getenv("COMRT_REGISTRY"))
    platform::SetEnv("COMRT_REGISTRY", (dir / "registry").string());
  bool quiet = common.quiet;

  double start = Now();
  Runtime runtime;
  // The simulated pager introduces itself: info id (bytes 9..14) PG0042.
  std::vector<std::string> simArgs = {"--info",     "DEMO v1 :PG0042.", "--record1",
                                      "FW 1.04   ", "--record2",        "CH 12 9600"};
  if (!realPacing) simArgs.push_back("--fast");
  auto sim = SimulatedPager::Start(simArgs);
  Say(quiet, "tarnctl demo: simulated pager on %s\n", sim->Device().c_str());
  std::string file = SaveDemoImage(dir, size, quiet);

  CommonOptions demoCommon = common;
  demoCommon.port = "device = " + sim->Device() + " baud = 9600";
  demoCommon.askPassword = false;
  demoCommon.passwordFile.clear();
  PagerSession session(ResolveSession(demoCommon));
  DemoSteps steps = RunDemoSteps(session, file, size, quiet);
  if (!quiet) PrintDemoSummary(steps, Now() - start);
  if (keep) Say(quiet, "kept %s\n", dir.string().c_str());
  return kExitOk;
}

}  // namespace tarnctl
