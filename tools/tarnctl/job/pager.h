// The pager jobs of tarnctl on top of CDownload ("BRENTAR.TARN"): identify,
// read, write, verify, activate and command mode, with progress, port
// checks and the translation of every failure into an Error with a hint.
#ifndef TARNCTL_PAGER_H
#define TARNCTL_PAGER_H

#include <tarnholm/interfaces.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "trace.h"

namespace tarnctl {

using Password = std::array<BYTE, 10>;

// One block of a transfer: at most 65535 bytes at a 16-bit address.
struct Block {
  uint32_t address = 0;
  uint32_t length = 0;
};

// An address as messages show it: "0x" and at least four upper-case hex
// digits ("0x00FF", "0x12345").
std::string Hex4(uint32_t v);

// How a job shows itself.
struct OutputMode {
  bool quiet = false;          // only results and errors
  bool window = false;         // show the progress window (a user at a terminal)
  bool linesToStderr = false;  // standard output carries the data (read -o -)
};

struct SessionOptions {
  std::string settings;  // port settings string
  std::optional<Password> password;
  std::string traceFile;  // empty: no trace
  OutputMode output;
  // Fleet and job hooks (all optional). `progress` replaces the progress
  // window and the per-block lines; `stop` is checked before every block (a
  // set flag ends the transfer with an Error at that safe point); `blockDone`
  // is told of every block that ended successfully, `blockStart` of every
  // block as it starts (its index from 0 and the transfer's block count).
  IProgressIndicator* progress = nullptr;
  bool indicator = true;  // false (and no `progress`): no indicator, no block lines
  const std::atomic<bool>* stop = nullptr;
  std::function<void(const char* verb, const Block& block)> blockDone;
  std::function<void(size_t index, size_t count)> blockStart;
};

// A number written in decimal or as 0x-prefixed hex (no sign, no blanks; a
// leading zero is decimal, never octal), at most `max`.
bool ParseNumber(const std::string& text, unsigned long long max, unsigned long long* out);

// Splits [address, address + length) into blocks of at most maxBlock bytes.
std::vector<Block> SplitBlocks(uint32_t address, uint32_t length, uint32_t maxBlock);

struct PagerIdentity {
  BYTE pagerType = 0;
  BYTE optionByte = 0;
  std::array<BYTE, 16> infoBlock{};
  std::array<BYTE, 6> infoId{};
  std::array<BYTE, 10> firstRecord{};
  std::array<BYTE, 10> secondRecord{};
  BYTE statusChar = 0;
  LONG statusOk = 0;
  BYTE infoLastByte = 0;
};

// "8B" / "41 42 ..  |AB.|" renderings for the reports.
std::string HexBytes(const BYTE* data, size_t n);
std::string PrintableBytes(const BYTE* data, size_t n);
std::string InfoIdText(const PagerIdentity& id);

// A command of `tarnctl cmd`: "13", "ff", "ffr", "probe", "pair:A,B", "42:V",
// "ae:ADDR,V", "40:ADDR,V", "46:ADDR,COUNT"; numbers decimal or 0x hex.
struct ParsedCommand {
  enum Kind {
    kCommand13,
    kCommandFF,
    kCommandFFRepeat,
    kProbe,
    kBytePair,
    kCommand42,
    kCommandAE,
    kCommand40,
    kCommand46
  };
  std::string token;
  Kind kind = kCommand13;
  uint32_t a = 0, b = 0;
};
// Throws Error (exit 1) for an unknown command or bad arguments.
ParsedCommand ParseCommand(const std::string& token);

class PagerSession {
 public:
  // Creates CDownload, checks the port and applies the settings. Throws Error.
  explicit PagerSession(const SessionOptions& options);
  ~PagerSession();

  // Result S_OK, or S_FALSE for a disabled pager whose answers were read
  // (the identity is filled either way); other failures throw.
  HRESULT Identify(PagerIdentity* identity);
  // What the latest transaction reported (every operation refreshes it).
  const PagerIdentity& LastIdentity();
  // Reads the blocks into memory (indexed by address - blocks[0].address).
  void Read(const std::vector<Block>& blocks, BYTE* memory, const char* verb = "read");
  // `image` is the whole 64 KiB address space; the blocks select what to write.
  void Write(const std::vector<Block>& blocks, const BYTE* image);
  // Reads the blocks back and compares. Returns the first differing address.
  std::optional<uint32_t> Verify(const std::vector<Block>& blocks, const BYTE* image,
                                 BYTE* actualAtMismatch = nullptr);
  void Activate();

  // Command mode. Each returns normally or throws Error.
  void BeginCommands();
  void EndCommands();
  // One parsed command (probe included).
  void RunCommand(const ParsedCommand& command);
  // The probe: S_OK or S_FALSE (the pager's answer cannot be told apart).
  HRESULT Probe();
  bool InCommandMode() const { return inCommandMode_; }

  // The component's last error code and text (0 and "" when unknown).
  LONG LastErrorCode(std::string* text = nullptr) const;

  // Throws the Error for the component's last error.
  [[noreturn]] void Fail(const std::string& what);

  const std::string& Device() const { return device_; }
  const OutputMode& Output() const { return options_.output; }

 private:
  void CheckPortBeforeUse();
  // Fail() for a block: a silent pager is one fault whichever the direction.
  [[noreturn]] void FailTransfer(const std::string& what);
  // Reads into readInto (from `base`) or writes from writeFrom. With
  // `expected` (verify), each block read is compared at once: the first
  // differing address is returned and the rest is not read.
  std::optional<uint32_t> Transfer(const std::vector<Block>& blocks, const char* verb,
                                   BYTE* readInto, const BYTE* writeFrom, uint32_t base,
                                   const BYTE* expected = nullptr);

  SessionOptions options_;
  std::string device_;  // the real device path
  std::unique_ptr<TraceRelay> relay_;
  ComPtr<IDownloadTransfer> transfer_;
  ComPtr<IDownloadState> state_;
  ComPtr<IDownloadError> error_;
  ComPtr<IPagerCommands> commands_;
  PagerIdentity identity_;
  bool inCommandMode_ = false;
};

}  // namespace tarnctl

#endif  // TARNCTL_PAGER_H
