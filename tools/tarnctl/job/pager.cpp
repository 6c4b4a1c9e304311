#include "pager.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "components.h"
#include "errors.h"
#include "platform.h"
#include "progress.h"
#include "serial/ascii.h"
#include "serial/numbers.h"
#include "serial/remote_port.h"
#include "settings.h"

namespace tarnctl {
namespace {

struct CodeAdvice {
  int exitCode;
  const char* hint;
};

CodeAdvice AdviceFor(LONG code) {
  switch (code) {
    case TARN_ERROR_CANT_OPEN_PORT:
      return {kExitPort, "check the port name (`tarnctl ports`) and that no other program uses it"};
    case TARN_ERROR_CANT_CLOSE_PORT:
      return {kExitPort, "check the cable and the port driver (USB adapters unplugged?)"};
    case TARN_ERROR_CANT_INITIALIZE:
      return {kExitComponents, "the download server could not prepare its serial channel"};
    case TARN_ERROR_COM_PORT:
      return {kExitPort,
              "check the cable, the line settings (baud rate) and that the pager is "
              "switched on"};
    case TARN_ERROR_UNSUPPORTED_PAGER:
      return {kExitPager, "the device on this port answered, but it is not a supported pager"};
    case TARN_ERROR_NO_ANSWER:
      return {kExitPager, "check the cable, the port name and that the pager is switched on"};
    case TARN_ERROR_PAGER_DISABLED:
      return {kExitPager,
              "the pager reports itself disabled; it must be enabled before it "
              "takes downloads"};
    case TARN_ERROR_WRONG_PASSWORD:
    case TARN_ERROR_PASSWORD_REQUIRED:
      return {kExitPager, "check the download password (--ask-password or --password-file)"};
    case TARN_ERROR_SENDING_DATA:
      return {kExitPager,
              "the pager stopped acknowledging: check the cable, its power and "
              "battery, then retry"};
    case TARN_ERROR_UNHANDLED_TIMEOUT:
    case TARN_ERROR_UNHANDLED_EXCEPTION:
    default:
      return {kExitPager,
              "retry; if it repeats, run with --trace FILE and keep the file for "
              "support"};
  }
}

// "port busy: DEVICE held by PID 1234 (minicom)" when the holder is known,
// else "port busy: DEVICE (why)".
std::string BusyText(const std::string& port, const std::string& detail) {
  const std::string device = serial::ShownPortName(port);  // HOST:PORT for a remote port
  if (detail.rfind("held by ", 0) == 0) return "port busy: " + device + " " + detail;
  return "port busy: " + device + (detail.empty() ? "" : " (" + detail + ")");
}

// A failure that another reader of the line would explain (lost or
// garbled answers): the program holding the device now, or that some
// processes could not be checked. Empty when every process was checked and
// none holds it.
std::string SharedLineNote(const std::string& device) {
  int unchecked = 0;
  std::string held = platform::PortHolderText(device, &unchecked);
  if (!held.empty()) return " (" + device + " is " + held + ", which shares the line)";
  if (unchecked == 0) return {};
  return " (" + std::to_string(unchecked) + " processes of other users could not be checked for " +
         "holding " + device + "; one of them may share the line)";
}

bool SharedLineExplains(LONG code) {
  switch (code) {
    case TARN_ERROR_CANT_OPEN_PORT:
    case TARN_ERROR_CANT_CLOSE_PORT:
    case TARN_ERROR_CANT_INITIALIZE:
    case TARN_ERROR_PAGER_DISABLED:
    case TARN_ERROR_WRONG_PASSWORD:
    case TARN_ERROR_PASSWORD_REQUIRED:
      return false;
    default:
      return true;
  }
}

// A progress indicator of the caller's, attached for one transfer.
struct AttachedSink {
  AttachedSink(IDownloadState* state, IProgressIndicator* sink) : state_(state) {
    state_->AttachProgress(sink);
  }
  ~AttachedSink() { state_->AttachProgress(nullptr); }
  AttachedSink(const AttachedSink&) = delete;
  AttachedSink& operator=(const AttachedSink&) = delete;
  IDownloadState* state_;
};

}  // namespace

std::string Hex4(uint32_t v) {
  char t[16];
  std::snprintf(t, sizeof t, "0x%04X", static_cast<unsigned>(v));
  return t;
}

bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
  uint64_t value = 0;
  if (!serial::ParseNumber(text, max, &value)) return false;
  *out = value;
  return true;
}

std::vector<Block> SplitBlocks(uint32_t address, uint32_t length, uint32_t maxBlock) {
  if (maxBlock == 0 || maxBlock > 65535) maxBlock = 65535;
  std::vector<Block> blocks;
  while (length > 0) {
    uint32_t n = length < maxBlock ? length : maxBlock;
    blocks.push_back({address, n});
    address += n;
    length -= n;
  }
  return blocks;
}

std::string HexBytes(const BYTE* data, size_t n) {
  std::string s;
  char t[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%02X", data[i]);
    if (i) s += ' ';
    s += t;
  }
  return s;
}

std::string PrintableBytes(const BYTE* data, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += (data[i] >= 0x20 && data[i] < 0x7F) ? char(data[i]) : '.';
  return s;
}

std::string InfoIdText(const PagerIdentity& id) {
  return PrintableBytes(id.infoId.data(), 6) + " (" + HexBytes(id.infoId.data(), 6) + ")";
}

PagerSession::PagerSession(const SessionOptions& options) : options_(options) {
  std::string deviceName = SettingsValue(options_.settings, "device").value_or("");
  if (deviceName.empty())
    throw Error(kExitUsage, "the port settings name no device: \"" + options_.settings + "\"",
                "give --port \"device = /dev/ttyUSB0 baud = 9600\" or run `tarnctl setup`");
  device_ = ResolveDevice(deviceName);
  CheckPortBeforeUse();

  std::string settings = options_.settings;
  if (!options_.traceFile.empty()) {
    relay_ = StartTraceRelay(device_, settings, options_.traceFile, options_.password);
    settings = ReplaceDevice(settings, relay_->HostDevice());
  }

  transfer_ = Create<IDownloadTransfer>(TARN_PROGID_DOWNLOAD, IID_IDownloadTransfer);
  transfer_.As(IID_IDownloadState, &state_);
  transfer_.As(IID_IDownloadError, &error_);
  transfer_.As(IID_IPagerCommands, &commands_);
  if (!state_ || !error_ || !commands_)
    throw Error(kExitComponents, "\"BRENTAR.TARN\" lacks one of its interfaces",
                "the registered library is not a download server of this version");
  LONG code = 0;
  if (SUCCEEDED(error_->GetErrorCode(&code)) && code == TARN_ERROR_CANT_INITIALIZE)
    Fail("starting the download server");

  LONG result = E_FAIL;
  HRESULT hr = state_->SetPortSettings(&result, settings.c_str());
  if (FAILED(hr) || FAILED(result))
    throw Error(kExitUsage, "the port settings are not accepted: \"" + options_.settings + "\"",
                "keys: device, baud, data, parity (no/odd/even/mark), stop (1/1.5/2); see "
                "`tarnctl setup`");
  if (options_.password) state_->SetPassword(options_.password->data());
}

PagerSession::~PagerSession() {
  if (inCommandMode_ && commands_) commands_->EndCommands();
  // The download server goes before the relay that carries its port.
  commands_.Reset();
  error_.Reset();
  state_.Reset();
  transfer_.Reset();
  std::string traceProblem = relay_ ? relay_->TraceProblem() : std::string();
  relay_.reset();
  if (!traceProblem.empty())
    std::fprintf(stderr, "tarnctl: warning: the trace file %s is incomplete: %s\n",
                 options_.traceFile.c_str(), traceProblem.c_str());
}

void PagerSession::CheckPortBeforeUse() {
  std::string detail;
  switch (platform::ProbePort(device_, &detail)) {
    case platform::PortState::kBusy:
      throw Error(kExitPort, BusyText(device_, detail),
                  "close the program that holds the port (terminal program, modem manager, "
                  "another tarnctl) and retry");
    case platform::PortState::kMissing:
      throw Error(kExitPort, "port missing: " + device_,
                  "check the port name (`tarnctl ports`) and that the adapter is plugged in");
    case platform::PortState::kNoAccess:
      throw Error(kExitPort, "no permission to open " + device_,
                  "add your user to the group that owns the device (often dialout) and log in "
                  "again");
    case platform::PortState::kCannotOpen:
      if (serial::IsRemotePortName(device_))
        throw Error(kExitPort, "cannot open port " + device_ + ": " + detail,
                    "check that the network serial server runs and serves this TCP port with "
                    "telnet(rfc2217), and the network between (see README: ser2net)");
      throw Error(kExitPort, "cannot open port " + device_ + ": " + detail,
                  "the device exists but nothing answers behind it: check the adapter and the "
                  "port name (`tarnctl ports`)");
    default:
      break;
  }
}

LONG PagerSession::LastErrorCode(std::string* text) const {
  LONG code = 0;
  const char* t = nullptr;
  if (error_) {
    error_->GetErrorCode(&code);
    error_->GetErrorText(&t);
  }
  if (text) *text = t ? t : "";
  return code;
}

void PagerSession::Fail(const std::string& what) {
  LONG code = 0;
  const char* text = nullptr;
  if (error_) {
    error_->GetErrorCode(&code);
    error_->GetErrorText(&text);
  }
  std::string message =
      what + " failed: error " + std::to_string(code) + ": " + (text ? text : "(no text)");
  if (SharedLineExplains(code)) message += SharedLineNote(device_);
  CodeAdvice advice = AdviceFor(code);
  std::string hint = advice.hint;
  if ((code == TARN_ERROR_WRONG_PASSWORD || code == TARN_ERROR_PASSWORD_REQUIRED) &&
      !options_.password)
    hint =
        "the pager asks for a download password: give it with --ask-password or "
        "--password-file FILE";
  if (code == TARN_ERROR_CANT_OPEN_PORT) {
    // The download server only knows that the port did not open: tell why.
    std::string detail;
    switch (platform::ProbePort(device_, &detail)) {
      case platform::PortState::kBusy:
        message += " (" + BusyText(device_, detail) + ")";
        break;
      case platform::PortState::kMissing:
        message += " (port missing: " + device_ + ")";
        break;
      case platform::PortState::kNoAccess:
        message += " (no permission: " + device_ + ")";
        break;
      default:
        message += " (" + device_ + (detail.empty() ? "" : ": " + detail) + ")";
    }
  }
  throw Error(advice.exitCode, message, hint);
}

void PagerSession::FailTransfer(const std::string& what) {
  LONG code = 0;
  const char* text = nullptr;
  if (error_) {
    error_->GetErrorCode(&code);
    error_->GetErrorText(&text);
  }
  // A pager that falls silent is reported as error 9 in a read and as
  // error 16 in a write: one fault, one message, as long as the port itself
  // is still there.
  std::string detail;
  if ((code == TARN_ERROR_COM_PORT || code == TARN_ERROR_SENDING_DATA) &&
      serial::IsRemotePortName(device_) &&
      platform::ProbePort(device_, &detail) == platform::PortState::kCannotOpen)
    throw Error(kExitPort,
                what + " failed: the connection to " + serial::ShownPortName(device_) +
                    " was lost (" + detail + "; error " + std::to_string(code) + ": " +
                    (text ? text : "(no text)") + ")",
                "check the network serial server and the network, then retry");
  if ((code == TARN_ERROR_COM_PORT || code == TARN_ERROR_SENDING_DATA) &&
      platform::ProbePort(device_, &detail) != platform::PortState::kMissing)
    throw Error(kExitPager,
                what + " failed: the pager stopped answering (error " + std::to_string(code) +
                    ": " + (text ? text : "(no text)") + ")" + SharedLineNote(device_),
                AdviceFor(TARN_ERROR_SENDING_DATA).hint);
  Fail(what);
}

HRESULT PagerSession::Identify(PagerIdentity* identity) {
  HRESULT hr = transfer_->Identify();
  if (hr != S_OK && hr != S_FALSE) Fail("identify");
  if (identity) *identity = LastIdentity();
  return hr;
}

const PagerIdentity& PagerSession::LastIdentity() {
  PagerIdentity& id = identity_;
  state_->GetPagerType(&id.pagerType);
  state_->GetOptionByte(&id.optionByte);
  state_->GetInfoBlock(id.infoBlock.data());
  state_->GetInfoId(id.infoId.data());
  state_->GetFirstRecord(id.firstRecord.data());
  state_->GetSecondRecord(id.secondRecord.data());
  state_->GetStatusChar(&id.statusChar);
  state_->GetStatusOk(&id.statusOk);
  state_->GetInfoLastByte(&id.infoLastByte);
  return id;
}

std::optional<uint32_t> PagerSession::Transfer(const std::vector<Block>& blocks, const char* verb,
                                               BYTE* readInto, const BYTE* writeFrom, uint32_t base,
                                               const BYTE* expected) {
  if (blocks.empty()) return std::nullopt;
  std::optional<TransferProgress> progress;
  std::optional<AttachedSink> sink;
  if (options_.progress)
    sink.emplace(state_.Get(), options_.progress);
  else if (options_.indicator)
    progress.emplace(state_.Get(), options_.output, verb, blocks);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& b = blocks[i];
    if (options_.stop && options_.stop->load())
      throw Error(kExitInterrupted, std::string(verb) + " interrupted before " + Hex4(b.address),
                  "blocks before it are done; run the job again to finish it");
    if (b.length == 0 || b.length > 65535 || b.address > 0xFFFF || b.address + b.length > 0x10000)
      throw Error(kExitUsage, "block " + Hex4(b.address) + " of " + std::to_string(b.length) +
                                  " bytes lies outside the pager's 64 KiB");
    if (options_.blockStart) options_.blockStart(i, blocks.size());
    double start = platform::NowMs();
    LONG result = E_FAIL;
    HRESULT hr;
    if (readInto)
      hr = transfer_->ReadMemory(&result, static_cast<WORD>(b.address),
                                 readInto + (b.address - base), static_cast<WORD>(b.length));
    else
      hr = transfer_->WriteMemory(&result, static_cast<WORD>(b.address),
                                  writeFrom + (b.address - base), static_cast<WORD>(b.length));
    if (hr != S_OK || result != S_OK)
      FailTransfer(std::string(verb) + " " + Hex4(b.address) + "-" +
                   Hex4(b.address + b.length - 1));
    std::optional<uint32_t> differs;
    if (expected)
      for (uint32_t a = b.address; a < b.address + b.length && !differs; ++a)
        if (readInto[a - base] != expected[a]) differs = a;
    if (progress) progress->BlockDone(i, platform::NowMs() - start, !differs);
    if (options_.blockDone) options_.blockDone(verb, b);
    if (differs) return differs;
  }
  return std::nullopt;
}

void PagerSession::Read(const std::vector<Block>& blocks, BYTE* memory, const char* verb) {
  if (blocks.empty()) return;
  Transfer(blocks, verb, memory, nullptr, blocks.front().address);
}

void PagerSession::Write(const std::vector<Block>& blocks, const BYTE* image) {
  Transfer(blocks, "write", nullptr, image, 0);
}

std::optional<uint32_t> PagerSession::Verify(const std::vector<Block>& blocks, const BYTE* image,
                                             BYTE* actualAtMismatch) {
  std::vector<BYTE> actual(0x10000, 0);
  std::optional<uint32_t> bad = Transfer(blocks, "verify", actual.data(), nullptr, 0, image);
  if (bad && actualAtMismatch) *actualAtMismatch = actual[*bad];
  return bad;
}

void PagerSession::Activate() {
  HRESULT hr = transfer_->Activate();
  if (hr != S_OK) Fail("activate");
}

void PagerSession::BeginCommands() {
  HRESULT hr = commands_->BeginCommands();
  // A failed BeginCommands may leave the port open: EndCommands closes it.
  inCommandMode_ = true;
  if (hr != S_OK) Fail("entering command mode");
}

void PagerSession::EndCommands() {
  inCommandMode_ = false;
  if (commands_->EndCommands() != S_OK) Fail("leaving command mode");
}

HRESULT PagerSession::Probe() {
  // The probe opens and closes the port itself; inside command mode that
  // close ends command mode.
  HRESULT hr = commands_->SendCommand0B();
  inCommandMode_ = false;
  if (FAILED(hr)) Fail("probe");
  return hr;
}

ParsedCommand ParseCommand(const std::string& token) {
  ParsedCommand cmd;
  cmd.token = token;
  std::string name = serial::LowerAscii(token);
  std::string args;
  size_t colon = name.find(':');
  if (colon != std::string::npos) {
    args = name.substr(colon + 1);
    name = name.substr(0, colon);
  }
  std::vector<std::string> parts;
  if (colon != std::string::npos) {
    size_t start = 0;
    while (true) {
      size_t comma = args.find(',', start);
      parts.push_back(args.substr(start, comma == std::string::npos ? comma : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  auto want = [&](size_t n) {
    if (parts.size() != n)
      throw Error(kExitUsage,
                  "bad command \"" + token + "\": it takes " + std::to_string(n) + " argument(s)",
                  "see `tarnctl cmd --help`");
  };
  auto number = [&](size_t i, unsigned long long max) -> uint32_t {
    unsigned long long v = 0;
    if (!ParseNumber(parts[i], max, &v))
      throw Error(kExitUsage,
                  "bad command \"" + token + "\": argument " + std::to_string(i + 1) +
                      " must be a number from 0 to " + std::to_string(max),
                  "numbers are decimal or 0x-prefixed hex, e.g. ae:0x123456,0xABCD");
    return static_cast<uint32_t>(v);
  };
  struct Kind {
    const char* name;
    ParsedCommand::Kind kind;
    size_t args;
    unsigned long long max1, max2;
  };
  static const Kind kinds[] = {
      {"13", ParsedCommand::kCommand13, 0, 0, 0},
      {"ff", ParsedCommand::kCommandFF, 0, 0, 0},
      {"ffr", ParsedCommand::kCommandFFRepeat, 0, 0, 0},
      {"probe", ParsedCommand::kProbe, 0, 0, 0},
      {"pair", ParsedCommand::kBytePair, 2, 0xFF, 0xFF},
      {"42", ParsedCommand::kCommand42, 1, 0xFFFFFFFFull, 0},
      {"ae", ParsedCommand::kCommandAE, 2, 0xFFFFFFFFull, 0xFFFF},
      {"40", ParsedCommand::kCommand40, 2, 0xFFFFFFFFull, 0xFFFF},
      {"46", ParsedCommand::kCommand46, 2, 0xFFFFFFFFull, 0xFFFFFFFFull},
  };
  for (const Kind& k : kinds) {
    if (name != k.name) continue;
    want(k.args);
    cmd.kind = k.kind;
    if (k.args > 0) cmd.a = number(0, k.max1);
    if (k.args > 1) cmd.b = number(1, k.max2);
    return cmd;
  }
  throw Error(kExitUsage, "unknown command \"" + token + "\"", "see `tarnctl cmd --help`");
}

void PagerSession::RunCommand(const ParsedCommand& cmd) {
  HRESULT hr = S_OK;
  LONG result = S_OK;
  LONG a = static_cast<LONG>(cmd.a);
  switch (cmd.kind) {
    case ParsedCommand::kCommand13:
      hr = commands_->SendCommand13();
      break;
    case ParsedCommand::kCommandFF:
      hr = commands_->SendCommandFF();
      break;
    case ParsedCommand::kCommandFFRepeat:
      hr = commands_->SendCommandFFRepeat();
      break;
    case ParsedCommand::kBytePair:
      hr = commands_->SendBytePair(&result, a, static_cast<LONG>(cmd.b));
      break;
    case ParsedCommand::kCommand42:
      hr = commands_->SendCommand42(&result, a);
      break;
    case ParsedCommand::kCommandAE:
      hr = commands_->SendCommandAE(&result, a, static_cast<WORD>(cmd.b));
      break;
    case ParsedCommand::kCommand40:
      hr = commands_->SendCommand40(&result, a, static_cast<WORD>(cmd.b));
      break;
    case ParsedCommand::kCommand46:
      hr = commands_->SendCommand46(&result, a, static_cast<LONG>(cmd.b));
      break;
    case ParsedCommand::kProbe:
      Probe();
      return;
  }
  if (hr != S_OK || result != S_OK) Fail("command " + cmd.token);
}

}  // namespace tarnctl
