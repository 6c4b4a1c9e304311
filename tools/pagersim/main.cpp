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

}  // namespace

int main(int argc, char** argv) {
  using namespace pagersim;
  CLI::App app{"pagersim: a simulated pager on a pseudo-terminal or a serial line"};
  app.set_help_flag("-h,--help", "Print this help and exit");
  app.set_version_flag("--version", std::string("pagersim ") + kTarnHolmVersion,
                       "Print the version and exit");

  ServeOptions serve;
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

  app.add_option("--tty", serve.ttyPath, "Serve this existing tty instead of creating a pty");
  app.add_option("--symlink", serve.symlinkPath, "Create a symlink to the pty slave at PATH");
  app.add_flag("--once", serve.once, "Exit after the host has opened and closed the line");
  app.add_flag("--stdin-control", stdinControl, "Exit when stdin reaches end of file");
  app.add_option("--baud", serve.baud,
                 "Emulate the rate of N baud with 10-bit frames (with --tty: line speed)")
      ->check(CLI::Range(50u, 4000000u));
  app.add_flag("--fast", fast, "Send the second write acknowledgement at once");
  app.add_flag("-v,--verbose", serve.verbose, "Log every byte on stderr");

  app.add_option("--pager-type", pagerType, "Answer to the wake byte (default 0x8B)");
  app.add_option("--ignore-wakes", ignoreWakes, "Leave the first N wake bytes unanswered");
  app.add_option("--status", status, "Status byte: O, Y (asks for the password), D, or any byte");
  app.add_option("--info", info, "Info block, 16 bytes: text or hex:...");
  app.add_option("--record1", record1, "First record, 10 bytes: text or hex:...");
  app.add_option("--record2", record2, "Second record, 10 bytes: text or hex:...");
  app.add_option("--password", password, "Download password, 10 bytes: text or hex:...");
  app.add_option("--option-byte", optionByte, "Byte sent under flag 0x20");
  app.add_option("--refusal-byte", refusalByte, "Verdict for a wrong password (default 0x15)");
  app.add_option("--nak-byte", nakByte, "Answer to a block with a bad checksum (default 0x15)");
  app.add_option("--probe-answer", probeAnswer, "Answer to the probe 0x0B (default '.')");
  app.add_option("--activate-delay", activateDelay, "Milliseconds before acknowledging activation");
  app.add_option("--status-after-activate", afterStatus, "Status byte after an activation");
  app.add_option("--info-after-activate", afterInfo, "Info block after an activation");
  app.add_option("--host-timeout", hostTimeout,
                 "Milliseconds of host silence that end a header or block (default 1000)")
      ->check(CLI::Range(1u, 3600000u));
  app.add_option("--stop-after", stopAfter, "Stop answering after N data bytes")
      ->check(CLI::Range(0LL, 4294967295LL));
  app.add_option("--fault", faults,
                 "Inject a fault: STEP:KIND[:BYTE][:COUNT]; steps: wake header option info "
                 "records status password verdict read-data write-data first-ack second-ack "
                 "activate-ack command-ack command-block probe any; kinds: silence wrong drop "
                 "echo disconnect; COUNT 0 = always (default 1)");
  app.add_option("--image", image,
                 "Memory image: raw binary, or S-record (.s19, .srec, .s28, .mot)");
  app.add_option("--image-offset", imageOffset, "Address of the first byte of a raw image")
      ->check(CLI::Range(0u, 0xFFFFu));
  app.add_option("--fill", fill, "Byte of memory not covered by the image (default 0xFF)");
  app.add_option("--dump", dump,
                 "Write the 64 KiB memory to PATH on exit (raw, or S-record by extension)");
  app.add_option("--transcript", transcript,
                 "Write every byte and every protocol violation to PATH on exit (- = stderr)");

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
  if (!ParseByte(pagerType, &config.pagerType, &error) ||
      !ParseByte(status, &config.identity.status, &error) ||
      !ParseByte(optionByte, &config.optionByte, &error) ||
      !ParseByte(refusalByte, &config.refusalByte, &error) ||
      !ParseByte(nakByte, &config.nakByte, &error) ||
      !ParseByte(probeAnswer, &config.probeAnswer, &error) || !ParseByte(fill, &fillByte, &error))
    return Fail(error);
  std::vector<uint8_t> field;
  auto setField = [&](const std::string& text, auto& target) {
    if (text.empty()) return true;
    if (!ParseField(text, target.size(), &field, &error)) return false;
    std::copy(field.begin(), field.end(), target.begin());
    return true;
  };
  if (!setField(info, config.identity.infoBlock) ||
      !setField(record1, config.identity.firstRecord) ||
      !setField(record2, config.identity.secondRecord) || !setField(password, config.password))
    return Fail(error);
  if (!afterStatus.empty() || !afterInfo.empty()) {
    PagerIdentity after = config.identity;
    if (!afterStatus.empty() && !ParseByte(afterStatus, &after.status, &error)) return Fail(error);
    if (!setField(afterInfo, after.infoBlock)) return Fail(error);
    config.identityAfterActivate = after;
  }
  config.ignoreWakes = ignoreWakes;
  config.activateDelayMs = activateDelay;
  config.fastWriteAck = fast;
  config.hostByteTimeoutMs = hostTimeout;
  if (stopAfter >= 0) config.stopAfterDataBytes = static_cast<uint32_t>(stopAfter);
  for (const auto& text : faults) {
    Fault fault;
    if (!ParseFault(text, &fault, &error)) return Fail(error);
    config.faults.push_back(fault);
  }
  if (stdinControl) serve.stopFd = 0;

#ifdef PAGERSIM_HAVE_S19
  InstallS19Support();
#endif
  PtyServer server(config);
  server.pager().Memory().fill(fillByte);
  if (!image.empty() && !LoadImage(image, imageOffset, server.pager().Memory(), &error))
    return Fail(error);
  if (!server.Start(serve, &error)) {
    std::cerr << "pagersim: error: " << error << "\n";
    return 1;
  }

  g_server = &server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::printf("pagersim: serving on %s\n", server.DevicePath().c_str());
  std::fflush(stdout);
  if (!serve.symlinkPath.empty())
    std::fprintf(stderr, "pagersim: %s -> %s\n", serve.symlinkPath.c_str(),
                 server.DevicePath().c_str());

  const PtyServer::End end = server.Serve(&error);
  g_server = nullptr;
  int rc = 0;
  switch (end) {
    case PtyServer::End::Failed:
      std::cerr << "pagersim: error: " << error << "\n";
      rc = 1;
      break;
    case PtyServer::End::Disconnected:
      std::cerr << "pagersim: line disconnected (fault)\n";
      rc = 3;
      break;
    default:
      break;
  }
  if (!dump.empty() && !SaveImage(dump, server.pager().Memory(), &error)) {
    std::cerr << "pagersim: error: " << error << "\n";
    rc = 1;
  }
  if (!transcript.empty()) {
    const std::string text = server.pager().TranscriptText();
    if (transcript == "-") {
      std::cerr << text;
    } else {
      std::ofstream out(transcript, std::ios::trunc);
      out << text;
      if (!out) {
        std::cerr << "pagersim: error: cannot write " << transcript << "\n";
        rc = 1;
      }
    }
  }
  return rc;
}
