// How tarnctl fails: every failure carries the exit code it ends the
// program with, a message and a hint of what to check.
//
// Exit codes (also in the README and in `tarnctl --help`):
//   0  success
//   1  usage: bad arguments, bad password input, settings dialog unavailable
//   2  pager or protocol failure: no answer, unsupported or disabled pager,
//      wrong password, missing acknowledgement
//   3  port failure: the port is missing, busy, cannot be opened or closed,
//      or a byte could not be sent or received
//   4  file failure: an S19 file cannot be read or written, or is damaged
//   5  verify mismatch: the pager's memory differs from the file
//   6  the components cannot be found, registered or created
//   7  several pagers: at least one of them failed (the summary names them)
//   130  interrupted (Ctrl-C) at a safe point between blocks
#ifndef TARNCTL_ERRORS_H
#define TARNCTL_ERRORS_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarnctl {

enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitPager = 2,
  kExitPort = 3,
  kExitFile = 4,
  kExitMismatch = 5,
  kExitComponents = 6,
  kExitSomeFailed = 7,
  kExitInterrupted = 130,
};

class Error : public std::runtime_error {
 public:
  Error(int exitCode, const std::string& message, std::string hint = {})
      : std::runtime_error(message), exitCode_(exitCode), hint_(std::move(hint)) {}
  int ExitCodeValue() const { return exitCode_; }
  const std::string& Hint() const { return hint_; }

 private:
  int exitCode_;
  std::string hint_;
};

// "0x80004005" style text of a result.
std::string HexResult(int32_t hr);

}  // namespace tarnctl

#endif  // TARNCTL_ERRORS_H
