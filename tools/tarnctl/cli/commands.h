// The command line (cli/), tarnctl's first part: main.cpp parses the
// options, prints the help and turns an Error into its message and exit
// code; the subcommands here resolve the port settings and the password,
// check the settings string (settings_check.h) before anything is opened,
// and run their job through job/, or through fleet/ when a job option asks
// for the job path.
//
// The subcommands of tarnctl, each a function that returns the exit code or
// throws Error.
#ifndef TARNCTL_COMMANDS_H
#define TARNCTL_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pager.h"

namespace tarnctl {

// Options that every pager command shares.
struct CommonOptions {
  std::string port;  // --port: overrides the saved settings for this run
  bool askPassword = false;
  std::string passwordFile;
  std::string traceFile;
  bool quiet = false;
  bool noWindow = false;  // plain lines even at a terminal
};

// The settings, password and output mode a pager command runs with.
SessionOptions ResolveSession(const CommonOptions& common);

// The lines of `activate`: before it starts, and once the pager reported
// back after `ms` milliseconds.
inline constexpr const char* kActivateWaiting =
    "activate: waiting for the pager to report back (up to 2 minutes)";
std::string ActivatedText(double ms, const PagerIdentity& id);

// What `identify` prints: the device and every field the pager reported.
void PrintIdentity(const std::string& device, const PagerIdentity& id);

int RunIdentify(const CommonOptions& common);
int RunRead(const CommonOptions& common, uint32_t address, uint32_t length, const std::string& file,
            uint32_t block);
int RunWrite(const CommonOptions& common, const std::string& file, bool verify, uint32_t block);
int RunVerify(const CommonOptions& common, const std::string& file, uint32_t block);
int RunActivate(const CommonOptions& common);
int RunCmd(const CommonOptions& common, const std::vector<std::string>& tokens);
int RunSetup(const CommonOptions& common, const std::optional<std::string>& set, bool show);
int RunPorts(const std::vector<std::string>& maps);
int RunRegister(const std::vector<std::string>& libraries, bool quiet);
int RunDemo(const CommonOptions& common, uint32_t size, bool keep, bool realPacing);

}  // namespace tarnctl

#endif  // TARNCTL_COMMANDS_H
