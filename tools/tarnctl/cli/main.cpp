// tarnctl: reads and writes a pager's memory through the Tarn and Holm
// components, loaded by ProgID through the component runtime like any
// client. See README.md ("tarnctl") for the manual.
//
// Each subcommand has one function here that declares its options and
// returns the action to run once the command line is parsed.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "commands.h"
#include "errors.h"
#include "fleet_options.h"
#include "sim.h"
#include "th_version.h"

namespace {

using namespace tarnctl;

const char* kExitCodes =
    "Exit codes: 0 ok, 1 usage, 2 pager or protocol failure, 3 port failure,\n"
    "4 file failure, 5 verify mismatch, 6 components not found or not registered,\n"
    "7 several pagers and at least one failed, 130 interrupted by Ctrl-C.";

// "0x1000", "4096": a number of at most `max`.
std::function<std::string(const std::string&)> NumberIn(unsigned long max) {
  return [max](const std::string& text) -> std::string {
    unsigned long long v = 0;
    if (!ParseNumber(text, ~0ull, &v)) return "not a number (decimal or 0x hex): " + text;
    if (v > max) return text + " is above " + std::to_string(max);
    return {};
  };
}

uint32_t ToNumber(const std::string& text) {
  unsigned long long v = 0;
  ParseNumber(text, 0xFFFFFFFFull, &v);
  return static_cast<uint32_t>(v);
}

// Everything the command line sets, for whichever subcommand runs.
struct Options {
  CommonOptions common;
  FleetOptions fleet;
  std::string address, length, file;
  std::string blockText = "65535";
  bool noVerify = false;
  std::vector<std::string> tokens;     // cmd
  std::string setValue;                // setup --set
  bool show = false;                   // setup --show
  std::vector<std::string> maps;       // ports --map
  std::vector<std::string> libraries;  // register
  uint32_t demoSize = 512;
  bool keep = false, realPacing = false;

  uint32_t Block() const { return ToNumber(blockText); }
  // The job path (several pagers, retries, a log) or the plain command.
  int Job(JobKind kind, const std::function<int()>& plain) const {
    if (!UsesJobPath(fleet)) return plain();
    return RunJobCommand(common, fleet, kind, file, !noVerify, Block());
  }
};

// A subcommand's action, run after a successful parse when it was chosen.
using Action = std::function<int()>;
struct Subcommand {
  CLI::App* app;
  Action run;
};

void AddCommon(CLI::App* app, CommonOptions* common, FleetOptions* fleet = nullptr) {
  if (fleet)
    AddFleetOptions(app, fleet);
  else
    app->add_option("--port", common->port,
                    "Port settings for this run, e.g. \"device = /dev/ttyUSB0 baud = 9600\" "
                    "(default: the saved settings, see `setup`)")
        ->type_name("STRING");
  auto ask = app->add_flag("--ask-password", common->askPassword,
                           "Ask for the download password on the terminal (no echo)");
  app->add_option("--password-file", common->passwordFile,
                  "Read the download password from FILE (at most 10 bytes; a final line end "
                  "is dropped)")
      ->type_name("FILE")
      ->excludes(ask);
  app->add_option("--trace", common->traceFile,
                  "Write the bytes on the wire both ways with timestamps to FILE (the "
                  "download password masked)")
      ->type_name("FILE")
      ->check([](const std::string& s) { return s.empty() ? "--trace needs a file name" : ""; });
}

void AddBlock(CLI::App* sub, Options& o) {
  sub->add_option("--block", o.blockText, "Largest block per transfer, 1..65535 bytes")
      ->type_name("N")
      ->check(NumberIn(65535))
      ->check([](const std::string& s) { return ToNumber(s) ? std::string() : "at least 1"; });
}

// The S19 file argument of write and verify.
void AddFile(CLI::App* sub, Options& o) {
  sub->add_option("FILE", o.file, "The S19 file")->type_name("FILE")->required();
}

Subcommand AddIdentify(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand("identify", "Wake and identify the pager");
  AddCommon(sub, &o.common, &o.fleet);
  return {sub, [&o] { return o.Job(JobKind::kIdentify, [&o] { return RunIdentify(o.common); }); }};
}

Subcommand AddRead(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand("read", "Read pager memory into an S19 file");
  sub->add_option("ADDR", o.address, "Start address, 0..0xFFFF")
      ->type_name("ADDR")
      ->required()
      ->check(NumberIn(0xFFFF));
  sub->add_option("LEN", o.length, "Number of bytes, 1..0x10000")
      ->type_name("LEN")
      ->required()
      ->check(NumberIn(0x10000));
  sub->add_option("-o,--output", o.file, "The S19 file to write")->type_name("FILE")->required();
  AddBlock(sub, o);
  AddCommon(sub, &o.common);
  return {sub, [&o] {
            return RunRead(o.common, ToNumber(o.address), ToNumber(o.length), o.file, o.Block());
          }};
}

Subcommand AddWrite(CLI::App& app, Options& o) {
  CLI::App* sub =
      app.add_subcommand("write", "Write an S19 file to the pager, then read it back and compare");
  AddFile(sub, o);
  sub->add_flag("--no-verify", o.noVerify, "Do not read back and compare");
  AddChangedOnlyOptions(sub, &o.fleet);
  AddBlock(sub, o);
  AddCommon(sub, &o.common, &o.fleet);
  return {sub, [&o] {
            return o.Job(JobKind::kWrite,
                         [&o] { return RunWrite(o.common, o.file, !o.noVerify, o.Block()); });
          }};
}

Subcommand AddVerify(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand("verify", "Compare the pager's memory with an S19 file");
  AddFile(sub, o);
  AddBlock(sub, o);
  AddCommon(sub, &o.common, &o.fleet);
  return {sub, [&o] {
            return o.Job(JobKind::kVerify, [&o] { return RunVerify(o.common, o.file, o.Block()); });
          }};
}

Subcommand AddActivate(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand(
      "activate", "Tell the pager to activate what was written (waits up to 2 minutes)");
  AddCommon(sub, &o.common, &o.fleet);
  return {sub, [&o] { return o.Job(JobKind::kActivate, [&o] { return RunActivate(o.common); }); }};
}

Subcommand AddCmd(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand(
      "cmd", "Command mode for service work: enter it, send the commands in order, leave it");
  sub->add_option("COMMAND", o.tokens,
                  "13 | ff | ffr | pair:A,B | 42:VALUE | ae:ADDR,VALUE | 40:ADDR,VALUE | "
                  "46:ADDR,COUNT | probe (numbers decimal or 0x hex; probe leaves command mode "
                  "and sends 0x0B on its own)")
      ->type_name("COMMAND")
      ->required();
  AddCommon(sub, &o.common);
  return {sub, [&o] { return RunCmd(o.common, o.tokens); }};
}

Subcommand AddSetup(CLI::App& app, Options& o) {
  CLI::App* sub =
      app.add_subcommand("setup", "Choose the port in the settings dialog and save the settings");
  auto setOpt = sub->add_option("--set", o.setValue, "Save this settings string without the dialog")
                    ->type_name("STRING");
  sub->add_flag("--show", o.show, "Print the saved settings")->excludes(setOpt);
  sub->add_option("--port", o.common.port, "Open the dialog with these settings")
      ->type_name("STRING");
  return {sub, [&o, setOpt] {
            return RunSetup(o.common, setOpt->count() ? std::optional(o.setValue) : std::nullopt,
                            o.show);
          }};
}

Subcommand AddPorts(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand("ports", "List the serial devices and the COM port map");
  sub->add_option("--map", o.maps,
                  "Map a COM port to a device, COMn=DEVICE (COMn= removes the entry); "
                  "POSIX only")
      ->type_name("COMn=DEVICE");
  return {sub, [&o] { return RunPorts(o.maps); }};
}

Subcommand AddRegister(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand(
      "register", "Register the component libraries with the runtime (done on first use)");
  sub->add_option("LIBRARY", o.libraries,
                  "Libraries to register (default: found next to tarnctl "
                  "or in the build tree)")
      ->type_name("LIBRARY");
  return {sub, [&o] { return RunRegister(o.libraries, o.common.quiet); }};
}

// `sim` runs before the parse (RunSim); here it only appears in the help.
Subcommand AddSim(CLI::App& app) {
  CLI::App* sub =
      app.add_subcommand("sim",
                         "Run the pager simulator on a pseudo-terminal (arguments go to pagersim; "
                         "`tarnctl sim --help` lists them)");
  sub->prefix_command();
  sub->allow_extras();
  return {sub, nullptr};
}

Subcommand AddDemo(CLI::App& app, Options& o) {
  CLI::App* sub = app.add_subcommand(
      "demo", "Identify, write, verify and activate a simulated pager, with timings");
  sub->add_option("--size", o.demoSize, "Bytes of the sample image (1..4096)")
      ->type_name("N")
      ->check(CLI::Range(1, 4096));
  sub->add_flag("--keep", o.keep, "Keep the sample file and the private registry");
  sub->add_flag("--real-pacing", o.realPacing,
                "Let the simulator keep the full pacing of the second write acknowledgement");
  sub->add_option("--trace", o.common.traceFile, "Write the bytes on the wire to FILE")
      ->type_name("FILE");
  return {sub, [&o] { return RunDemo(o.common, o.demoSize, o.keep, o.realPacing); }};
}

// The whole command line in the order the help lists it.
std::vector<Subcommand> AddSubcommands(CLI::App& app, Options& o) {
  return {AddIdentify(app, o), AddRead(app, o), AddWrite(app, o), AddVerify(app, o),
          AddActivate(app, o), AddCmd(app, o),  AddSetup(app, o), AddPorts(app, o),
          AddRegister(app, o), AddSim(app),     AddDemo(app, o)};
}

// The error on stderr with its hint; returns its exit code.
int ReportError(const Error& e) {
  std::fflush(stdout);
  std::fprintf(stderr, "tarnctl: %s\n", e.what());
  if (!e.Hint().empty()) std::fprintf(stderr, "  hint: %s\n", e.Hint().c_str());
  return e.ExitCodeValue();
}

// "tarnctl sim ARGS" becomes pagersim; returns only when that fails.
int RunSim(int argc, char** argv) {
  try {
    // "tarnctl sim -- ARGS" is taken as "tarnctl sim ARGS".
    int first = argc >= 3 && std::string(argv[2]) == "--" ? 3 : 2;
    ExecPagersim(std::vector<std::string>(argv + first, argv + argc));
  } catch (const Error& e) {
    return ReportError(e);
  }
  return kExitUsage;
}

// Runs the chosen subcommand's action; errors become messages and exit codes.
int RunChosen(const std::vector<Subcommand>& subcommands, Options& o) {
  try {
    if (o.fleet.ports.size() == 1) o.common.port = o.fleet.ports.front();
    for (const Subcommand& s : subcommands)
      if (*s.app && s.run) return s.run();
  } catch (const Error& e) {
    return ReportError(e);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", e.what());
    return kExitPager;
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tarnctl: read, write, verify and activate a pager's memory over a serial line",
               "tarnctl"};
  app.footer(kExitCodes);
  app.set_version_flag("--version", std::string("tarnctl ") + kTarnHolmVersion,
                       "Print the version and exit");
  app.require_subcommand(1);
  app.fallthrough();
  Options options;
  app.add_flag("-q,--quiet", options.common.quiet, "Print only results and errors");
  app.add_flag("--no-window", options.common.noWindow,
               "Never show the progress window; print one line per block instead");
  const std::vector<Subcommand> subcommands = AddSubcommands(app, options);

  if (argc >= 2 && std::string(argv[1]) == "sim") return RunSim(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }
  return RunChosen(subcommands, options);
}
