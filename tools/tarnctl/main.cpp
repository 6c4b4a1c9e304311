// tarnctl: reads and writes a pager's memory through the Tarn and Holm
// components, loaded by ProgID through the component runtime like any
// client. See README.md ("tarnctl") for the manual.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tarnctl: read, write, verify and activate a pager's memory over a serial line",
               "tarnctl"};
  app.footer(kExitCodes);
  app.set_version_flag("--version", std::string("tarnctl ") + kTarnHolmVersion,
                       "Print the version and exit");
  app.require_subcommand(1);
  app.fallthrough();
  CommonOptions common;
  app.add_flag("-q,--quiet", common.quiet, "Print only results and errors");
  app.add_flag("--no-window", common.noWindow,
               "Never show the progress window; print one line per block instead");

  FleetOptions fleet;
  CLI::App* identify = app.add_subcommand("identify", "Wake and identify the pager");
  AddCommon(identify, &common, &fleet);

  std::string address, length, file;
  uint32_t block = 65535;
  std::string blockText = "65535";
  auto addBlock = [&](CLI::App* sub) {
    sub->add_option("--block", blockText, "Largest block per transfer, 1..65535 bytes")
        ->type_name("N")
        ->check(NumberIn(65535))
        ->check([](const std::string& s) { return ToNumber(s) ? std::string() : "at least 1"; });
  };

  CLI::App* read = app.add_subcommand("read", "Read pager memory into an S19 file");
  read->add_option("ADDR", address, "Start address, 0..0xFFFF")
      ->type_name("ADDR")
      ->required()
      ->check(NumberIn(0xFFFF));
  read->add_option("LEN", length, "Number of bytes, 1..0x10000")
      ->type_name("LEN")
      ->required()
      ->check(NumberIn(0x10000));
  read->add_option("-o,--output", file, "The S19 file to write")->type_name("FILE")->required();
  addBlock(read);
  AddCommon(read, &common);

  bool noVerify = false;
  CLI::App* write =
      app.add_subcommand("write", "Write an S19 file to the pager, then read it back and compare");
  write->add_option("FILE", file, "The S19 file")->type_name("FILE")->required();
  write->add_flag("--no-verify", noVerify, "Do not read back and compare");
  AddChangedOnlyOptions(write, &fleet);
  addBlock(write);
  AddCommon(write, &common, &fleet);

  CLI::App* verify = app.add_subcommand("verify", "Compare the pager's memory with an S19 file");
  verify->add_option("FILE", file, "The S19 file")->type_name("FILE")->required();
  addBlock(verify);
  AddCommon(verify, &common, &fleet);

  CLI::App* activate = app.add_subcommand(
      "activate", "Tell the pager to activate what was written (waits up to 2 minutes)");
  AddCommon(activate, &common, &fleet);

  std::vector<std::string> tokens;
  CLI::App* cmd = app.add_subcommand(
      "cmd", "Command mode for service work: enter it, send the commands in order, leave it");
  cmd->add_option("COMMAND", tokens,
                  "13 | ff | ffr | pair:A,B | 42:VALUE | ae:ADDR,VALUE | 40:ADDR,VALUE | "
                  "46:ADDR,COUNT | probe (numbers decimal or 0x hex; probe leaves command mode "
                  "and sends 0x0B on its own)")
      ->type_name("COMMAND")
      ->required();
  AddCommon(cmd, &common);

  std::string setValue;
  bool show = false;
  CLI::App* setup =
      app.add_subcommand("setup", "Choose the port in the settings dialog and save the settings");
  auto setOpt = setup->add_option("--set", setValue, "Save this settings string without the dialog")
                    ->type_name("STRING");
  setup->add_flag("--show", show, "Print the saved settings")->excludes(setOpt);
  setup->add_option("--port", common.port, "Open the dialog with these settings")
      ->type_name("STRING");

  std::vector<std::string> maps;
  CLI::App* ports = app.add_subcommand("ports", "List the serial devices and the COM port map");
  ports
      ->add_option("--map", maps,
                   "Map a COM port to a device, COMn=DEVICE (COMn= removes the entry); "
                   "POSIX only")
      ->type_name("COMn=DEVICE");

  std::vector<std::string> libraries;
  CLI::App* reg = app.add_subcommand(
      "register", "Register the component libraries with the runtime (done on first use)");
  reg->add_option("LIBRARY", libraries,
                  "Libraries to register (default: found next to tarnctl "
                  "or in the build tree)")
      ->type_name("LIBRARY");

  std::vector<std::string> simArgs;
  CLI::App* sim =
      app.add_subcommand("sim",
                         "Run the pager simulator on a pseudo-terminal (arguments go to pagersim; "
                         "`tarnctl sim --help` lists them)");
  sim->prefix_command();
  sim->allow_extras();

  uint32_t demoSize = 512;
  bool keep = false, realPacing = false;
  CLI::App* demo = app.add_subcommand(
      "demo", "Identify, write, verify and activate a simulated pager, with timings");
  demo->add_option("--size", demoSize, "Bytes of the sample image (1..4096)")
      ->type_name("N")
      ->check(CLI::Range(1, 4096));
  demo->add_flag("--keep", keep, "Keep the sample file and the private registry");
  demo->add_flag("--real-pacing", realPacing,
                 "Let the simulator keep the full pacing of the second write acknowledgement");
  demo->add_option("--trace", common.traceFile, "Write the bytes on the wire to FILE")
      ->type_name("FILE");

  if (argc >= 2 && std::string(argv[1]) == "sim") {
    try {
      // "tarnctl sim -- ARGS" is taken as "tarnctl sim ARGS".
      int first = argc >= 3 && std::string(argv[2]) == "--" ? 3 : 2;
      ExecPagersim(std::vector<std::string>(argv + first, argv + argc));
    } catch (const Error& e) {
      std::fprintf(stderr, "tarnctl: %s\n", e.what());
      if (!e.Hint().empty()) std::fprintf(stderr, "  hint: %s\n", e.Hint().c_str());
      return e.ExitCodeValue();
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }

  try {
    block = ToNumber(blockText);
    if (fleet.ports.size() == 1) common.port = fleet.ports.front();
    auto job = [&](JobKind kind) {
      return RunJobCommand(common, fleet, kind, file, !noVerify, block);
    };
    if (*identify) return UsesJobPath(fleet) ? job(JobKind::kIdentify) : RunIdentify(common);
    if (*read) return RunRead(common, ToNumber(address), ToNumber(length), file, block);
    if (*write)
      return UsesJobPath(fleet) ? job(JobKind::kWrite) : RunWrite(common, file, !noVerify, block);
    if (*verify) return UsesJobPath(fleet) ? job(JobKind::kVerify) : RunVerify(common, file, block);
    if (*activate) return UsesJobPath(fleet) ? job(JobKind::kActivate) : RunActivate(common);
    if (*cmd) return RunCmd(common, tokens);
    if (*setup)
      return RunSetup(common, setup->count("--set") ? std::optional(setValue) : std::nullopt, show);
    if (*ports) return RunPorts(maps);
    if (*reg) return RunRegister(libraries, common.quiet);
    if (*demo) return RunDemo(common, demoSize, keep, realPacing);
  } catch (const Error& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", e.what());
    if (!e.Hint().empty()) std::fprintf(stderr, "  hint: %s\n", e.Hint().c_str());
    return e.ExitCodeValue();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tarnctl: %s\n", e.what());
    return kExitPager;
  }
  return kExitUsage;
}
