// pagersim: serves a simulated pager on a pseudo-terminal (or a given tty).
//
// Prints "pagersim: serving on <device>" on stdout once the line is ready,
// then serves until SIGINT/SIGTERM, until the host closes the line (--once),
// or until stdin reaches end of file (--stdin-control).
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "th_version.h"
#include "tools/pagersim/cli_options.h"
#include "tools/pagersim/image.h"
#include "tools/pagersim/pty_server.h"

namespace {

pagersim::PtyServer* g_server = nullptr;

void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

int Fail(const std::string& message) {
  std::cerr << "pagersim: error: " << message << "\n";
  return 2;
}

// The command line's values as given, before they are checked.
struct CliValues {
  pagersim::ServeOptions serve;
  bool stdinControl = false;
  std::string pagerType = "0x8B", status = "O", optionByte = "0", refusalByte = "0x15",
              nakByte = "0x15", probeAnswer = "0x2E", fill = "0xFF";
  std::string info, record1, record2, password;
  std::string afterStatus, afterInfo;
  unsigned ignoreWakes = 0;
  uint32_t activateDelay = 0, hostTimeout = 1000, imageOffset = 0;
  bool fast = false;
  long long stopAfter = -1;
  std::vector<std::string> faults;
  std::string image, dump, transcript;
};

// How the line is served.
void AddLineOptions(CLI::App& app, CliValues& v) {
  app.add_option("--tty", v.serve.ttyPath, "Serve this existing tty instead of creating a pty");
  app.add_option("--symlink", v.serve.symlinkPath, "Create a symlink to the pty slave at PATH");
  app.add_flag("--once", v.serve.once, "Exit after the host has opened and closed the line");
  app.add_flag("--stdin-control", v.stdinControl, "Exit when stdin reaches end of file");
  app.add_option("--baud", v.serve.baud,
                 "Emulate the rate of N baud with 10-bit frames (with --tty: line speed)")
      ->check(CLI::Range(50u, 4000000u));
  app.add_flag("--fast", v.fast, "Send the second write acknowledgement at once");
  app.add_flag("-v,--verbose", v.serve.verbose, "Log every byte on stderr");
}

// What the pager says and how it behaves.
void AddPagerOptions(CLI::App& app, CliValues& v) {
  app.add_option("--pager-type", v.pagerType, "Answer to the wake byte (default 0x8B)");
  app.add_option("--ignore-wakes", v.ignoreWakes, "Leave the first N wake bytes unanswered");
  app.add_option("--status", v.status, "Status byte: O, Y (asks for the password), D, or any byte");
  app.add_option("--info", v.info, "Info block, 16 bytes: text or hex:...");
  app.add_option("--record1", v.record1, "First record, 10 bytes: text or hex:...");
  app.add_option("--record2", v.record2, "Second record, 10 bytes: text or hex:...");
  app.add_option("--password", v.password, "Download password, 10 bytes: text or hex:...");
  app.add_option("--option-byte", v.optionByte, "Byte sent under flag 0x20");
  app.add_option("--refusal-byte", v.refusalByte, "Verdict for a wrong password (default 0x15)");
  app.add_option("--nak-byte", v.nakByte, "Answer to a block with a bad checksum (default 0x15)");
  app.add_option("--probe-answer", v.probeAnswer, "Answer to the probe 0x0B (default '.')");
  app.add_option("--activate-delay", v.activateDelay,
                 "Milliseconds before acknowledging activation");
  app.add_option("--status-after-activate", v.afterStatus, "Status byte after an activation");
  app.add_option("--info-after-activate", v.afterInfo, "Info block after an activation");
  app.add_option("--host-timeout", v.hostTimeout,
                 "Milliseconds of host silence that end a header or block (default 1000)")
      ->check(CLI::Range(1u, 3600000u));
  app.add_option("--stop-after", v.stopAfter, "Stop answering after N data bytes")
      ->check(CLI::Range(0LL, 4294967295LL));
  app.add_option("--fault", v.faults,
                 "Inject a fault: STEP:KIND[:BYTE][:COUNT]; steps: wake header option info "
                 "records status password verdict read-data write-data first-ack second-ack "
                 "activate-ack command-ack command-block probe any; kinds: silence wrong drop "
                 "echo disconnect; COUNT 0 = always (default 1)");
}

// The memory and the files written on exit.
void AddMemoryOptions(CLI::App& app, CliValues& v) {
  app.add_option("--image", v.image,
                 "Memory image: raw binary, or S-record (.s19, .srec, .s28, .mot)");
  app.add_option("--image-offset", v.imageOffset, "Address of the first byte of a raw image")
      ->check(CLI::Range(0u, 0xFFFFu));
  app.add_option("--fill", v.fill, "Byte of memory not covered by the image (default 0xFF)");
  app.add_option("--dump", v.dump,
                 "Write the 64 KiB memory to PATH on exit (raw, or S-record by extension)");
  app.add_option("--transcript", v.transcript,
                 "Write every byte and every protocol violation to PATH on exit (- = stderr)");
}

// A fixed-size field from its text; an empty text leaves the field as it is.
template <typename Field>
bool SetField(const std::string& text, Field& target, std::string* error) {
  if (text.empty()) return true;
  std::vector<uint8_t> field;
  if (!pagersim::ParseField(text, target.size(), &field, error)) return false;
  std::copy(field.begin(), field.end(), target.begin());
  return true;
}

// The pager's configuration from the command line's values; false with a
// message in *error on the first bad one.
bool BuildConfig(const CliValues& v, pagersim::PagerConfig* config, uint8_t* fillByte,
                 std::string* error) {
  using pagersim::ParseByte;
  if (!ParseByte(v.pagerType, &config->pagerType, error) ||
      !ParseByte(v.status, &config->identity.status, error) ||
      !ParseByte(v.optionByte, &config->optionByte, error) ||
      !ParseByte(v.refusalByte, &config->refusalByte, error) ||
      !ParseByte(v.nakByte, &config->nakByte, error) ||
      !ParseByte(v.probeAnswer, &config->probeAnswer, error) || !ParseByte(v.fill, fillByte, error))
    return false;
  if (!SetField(v.info, config->identity.infoBlock, error) ||
      !SetField(v.record1, config->identity.firstRecord, error) ||
      !SetField(v.record2, config->identity.secondRecord, error) ||
      !SetField(v.password, config->password, error))
    return false;
  if (!v.afterStatus.empty() || !v.afterInfo.empty()) {
    pagersim::PagerIdentity after = config->identity;
    if (!v.afterStatus.empty() && !ParseByte(v.afterStatus, &after.status, error)) return false;
    if (!SetField(v.afterInfo, after.infoBlock, error)) return false;
    config->identityAfterActivate = after;
  }
  config->ignoreWakes = v.ignoreWakes;
  config->activateDelayMs = v.activateDelay;
  config->fastWriteAck = v.fast;
  config->hostByteTimeoutMs = v.hostTimeout;
  if (v.stopAfter >= 0) config->stopAfterDataBytes = static_cast<uint32_t>(v.stopAfter);
  for (const auto& text : v.faults) {
    pagersim::Fault fault;
    if (!pagersim::ParseFault(text, &fault, error)) return false;
    config->faults.push_back(fault);
  }
  return true;
}

// SIGINT and SIGTERM stop the server; a host gone away is no signal.
void CatchSignals(pagersim::PtyServer* server) {
  g_server = server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// The exit code for how serving ended, with its message.
int EndCode(pagersim::PtyServer::End end, const std::string& error) {
  switch (end) {
    case pagersim::PtyServer::End::kFailed:
      std::cerr << "pagersim: error: " << error << "\n";
      return 1;
    case pagersim::PtyServer::End::kDisconnected:
      std::cerr << "pagersim: line disconnected (fault)\n";
      return 3;
    default:
      return 0;
  }
}

// Writes the memory dump and the transcript the user asked for; 1 when one
// of them cannot be written, else `rc`.
int WriteExitFiles(pagersim::PtyServer& server, const CliValues& v, int rc) {
  std::string error;
  if (!v.dump.empty() && !pagersim::SaveImage(v.dump, server.pager().Memory(), &error)) {
    std::cerr << "pagersim: error: " << error << "\n";
    rc = 1;
  }
  if (v.transcript.empty()) return rc;
  const std::string text = server.pager().TranscriptText();
  if (v.transcript == "-") {
    std::cerr << text;
    return rc;
  }
  std::ofstream out(v.transcript, std::ios::trunc);
  out << text;
  if (!out) {
    std::cerr << "pagersim: error: cannot write " << v.transcript << "\n";
    rc = 1;
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pagersim;
  CLI::App app{"pagersim: a simulated pager on a pseudo-terminal or a serial line"};
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", std::string("pagersim ") + kTarnHolmVersion,
                       "Print the version and exit");
  CliValues values;
  AddLineOptions(app, values);
  AddPagerOptions(app, values);
  AddMemoryOptions(app, values);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "pagersim: error: " << e.what() << "\nRun with --help for more information.\n";
    return 2;
  }

  PagerConfig config;
  std::string error;
  uint8_t fillByte = 0xFF;
  if (!BuildConfig(values, &config, &fillByte, &error)) return Fail(error);
  ServeOptions serve = values.serve;
  if (values.stdinControl) serve.stopFd = 0;

  InstallS19Support();
  PtyServer server(config);
  server.pager().Memory().fill(fillByte);
  if (!values.image.empty() &&
      !LoadImage(values.image, values.imageOffset, server.pager().Memory(), &error))
    return Fail(error);
  if (!server.Start(serve, &error)) {
    std::cerr << "pagersim: error: " << error << "\n";
    return 1;
  }
  CatchSignals(&server);
  std::printf("pagersim: serving on %s\n", server.DevicePath().c_str());
  std::fflush(stdout);
  if (!serve.symlinkPath.empty())
    std::fprintf(stderr, "pagersim: %s -> %s\n", serve.symlinkPath.c_str(),
                 server.DevicePath().c_str());

  const PtyServer::End end = server.Serve(&error);
  g_server = nullptr;
  return WriteExitFiles(server, values, EndCode(end, error));
}
