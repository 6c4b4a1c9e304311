// The simulator over real pseudo-terminals: the server class on a thread and
// the pagersim executable, each driven by a plain POSIX client (termios, raw).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "tools/pagersim/pty_server.h"

namespace pagersim {
namespace {

using Bytes = std::vector<uint8_t>;

// A minimal serial client: raw 8N1, one poll per read.
class Client {
 public:
  explicit Client(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd_ < 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIOFLUSH);
  }
  ~Client() { Close(); }
  bool ok() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The wake byte, and the pager's answer to it.
  void Wake() {
    Write({0xAA});
    EXPECT_EQ(Read(1), Bytes{0x8B}) << "the pager did not answer the wake byte";
  }
  // Wakes the pager, sends a frame header and reads up to n answer bytes.
  Bytes WakeAndAsk(const Bytes& header, size_t n, int timeoutMs = 2000) {
    Wake();
    Write(header);
    return Read(n, timeoutMs);
  }
  // Reads up to n bytes, giving up after `timeoutMs` of silence.
  Bytes Read(size_t n, int timeoutMs = 2000) {
    Bytes out;
    while (out.size() < n) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) break;
      uint8_t buffer[512];
      ssize_t got = ::read(fd_, buffer, std::min(sizeof buffer, n - out.size()));
      if (got <= 0) break;
      out.insert(out.end(), buffer, buffer + got);
    }
    return out;
  }

 private:
  int fd_ = -1;
};

Bytes Block(const Bytes& data) {
  Bytes out = data;
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  out.push_back(sum);
  return out;
}

PagerConfig Config() {
  PagerConfig config;
  config.identity.status = 'O';
  config.identity.infoBlock[15] = 0x42;
  return config;
}

// Runs a PtyServer on a thread for the length of a test.
struct Served {
  explicit Served(PagerConfig config, ServeOptions options = {},
                  const std::function<void(Pager&)>& prepare = {})
      : server(std::move(config)) {
    if (prepare) prepare(server.pager());
    std::string error;
    started = server.Start(options, &error);
    EXPECT_TRUE(started) << error;
    if (started) thread = std::thread([this] { end = server.Serve(); });
  }
  PtyServer::End Finish() {
    if (thread.joinable()) {
      server.Stop();
      thread.join();
    }
    return end;
  }
  ~Served() { Finish(); }
  PtyServer server;
  bool started = false;
  std::thread thread;
  PtyServer::End end = PtyServer::End::kFailed;
};

TEST(PtyServer, ClientReadsAndWritesMemoryOverAPty) {
  Served served(Config(), {}, [](Pager& pager) {
    for (int i = 0; i < 4; ++i) pager.Memory()[0x100 + i] = static_cast<uint8_t>(0xD0 + i);
  });
  ASSERT_TRUE(served.started);
  Client client(served.server.DevicePath());
  ASSERT_TRUE(client.ok());

  Bytes answer = client.WakeAndAsk({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}, 38 + 4);
  ASSERT_EQ(answer.size(), 42u);
  EXPECT_EQ(answer[15], 0x42);
  EXPECT_EQ(answer[36], 'O');
  EXPECT_EQ(answer[37], 0xBB);
  EXPECT_EQ(Bytes(answer.begin() + 38, answer.end()), (Bytes{0xD0, 0xD1, 0xD2, 0xD3}));

  client.Wake();
  client.Write({0x86, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02});
  EXPECT_EQ(client.Read(38).size(), 38u);
  client.Write({0x12, 0x34, 0x46});
  EXPECT_EQ(client.Read(2), (Bytes{0x06, 0x06}));

  // A block with a wrong checksum is refused.
  client.Wake();
  client.Write({0x86, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
  EXPECT_EQ(client.Read(38).size(), 38u);
  client.Write({0x55, 0x00});
  EXPECT_EQ(client.Read(1), Bytes{0x15});
  client.Close();

  EXPECT_EQ(served.Finish(), PtyServer::End::kStopped);
  const Pager& pager = served.server.pager();
  EXPECT_EQ(pager.Memory()[0x200], 0x12);
  EXPECT_EQ(pager.Memory()[0x201], 0x34);
  EXPECT_EQ(pager.Memory()[0x300], 0xFF);
  ASSERT_EQ(pager.Violations().size(), 1u);
  EXPECT_EQ(pager.Violations()[0].kind, ViolationKind::kBadChecksum);
}

TEST(PtyServer, DisabledPagerAndRefusedPasswordOverAPty) {
  PagerConfig disabled = Config();
  disabled.identity.status = 'D';
  Served off(disabled);
  ASSERT_TRUE(off.started);
  Client host(off.server.DevicePath());
  Bytes answer = host.WakeAndAsk({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}, 42, 300);
  ASSERT_EQ(answer.size(), 37u);  // answers and status, no verdict, no data
  EXPECT_EQ(answer[36], 'D');

  PagerConfig guarded = Config();
  guarded.identity.status = 'Y';
  guarded.password.fill('p');
  Served on(guarded);
  ASSERT_TRUE(on.started);
  Client other(on.server.DevicePath());
  other.Wake();
  other.Write({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04});
  EXPECT_EQ(other.Read(37).back(), 'Y');
  other.Write(Bytes(10, 0x00));
  EXPECT_EQ(other.Read(5, 300), Bytes{0x15});  // refused, and no data follows
  other.Close();
  on.Finish();
  EXPECT_EQ(on.server.pager().Stats().refusals, 1u);
}

TEST(PtyServer, CommandModeAndTruncatedHeaderOverAPty) {
  PagerConfig config = Config();
  // Short, but not so short that a loaded machine's scheduling between the
  // answer and the next header puts the pager back to sleep (50 ms failed
  // 2 runs in 30 with the CPU saturated).
  config.hostByteTimeoutMs = 300;
  Served served(config);
  ASSERT_TRUE(served.started);
  Client client(served.server.DevicePath());
  ASSERT_TRUE(client.ok());
  client.Wake();
  client.Write({0x80, 0x09, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(client.Read(1), Bytes{'.'});
  client.Write({0xAE, 0x34, 0x56, 0x00, 0x12, 0xAB, 0xCD, 0x14});
  EXPECT_EQ(client.Read(1), Bytes{'.'});
  client.Write({0x12});
  EXPECT_EQ(client.Read(1), Bytes{'.'});
  // Three header bytes, then nothing: the pager records it and stays quiet.
  client.Wake();
  client.Write({0x86, 0x01, 0x00});
  EXPECT_EQ(client.Read(1, 700), Bytes{});
  client.Wake();
  client.Close();
  served.Finish();
  EXPECT_TRUE(served.server.pager().HasViolation(ViolationKind::kTruncatedHeader));
  EXPECT_EQ(served.server.pager().Commands().size(), 2u);
}

TEST(PtyServer, OnceEndsWhenTheHostClosesAndDisconnectCutsTheLine) {
  ServeOptions once;
  once.once = true;
  Served served(Config(), once);
  ASSERT_TRUE(served.started);
  {
    Client client(served.server.DevicePath());
    client.Wake();
  }
  served.thread.join();
  EXPECT_EQ(served.end, PtyServer::End::kHostClosed);

  PagerConfig config = Config();
  config.faults = {{Step::kStatus, FaultKind::kDisconnect, 0, 1}};
  Served cut(config);
  ASSERT_TRUE(cut.started);
  Client client(cut.server.DevicePath());
  client.Wake();
  client.Write({0x87, 0x01, 0, 0, 0, 0, 0, 0});
  cut.thread.join();
  EXPECT_EQ(cut.end, PtyServer::End::kDisconnected);
  EXPECT_LE(client.Read(37, 200).size(), 36u);  // no status byte ever comes
}

TEST(PtyServer, LineRateEmulationSpacesTheBytes) {
  ServeOptions options;
  options.baud = 9600;  // 960 bytes per second
  Served served(Config(), options);
  ASSERT_TRUE(served.started);
  Client client(served.server.DevicePath());
  const auto start = std::chrono::steady_clock::now();
  client.Write({0xAA});
  ASSERT_EQ(client.Read(1), Bytes{0x8B});
  client.Write({0x86, 0x01, 0x00, 0x00, 0, 0, 0x00, 200});
  EXPECT_EQ(client.Read(238).size(), 238u);
  // 1 + 9 + 238 bytes at 960 per second take at least 250 ms.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(240));
  // The header went out in one write; the pager hears it a frame time
  // (1.04 ms) a byte.
  client.Close();
  served.Finish();
  std::istringstream transcript(served.server.pager().TranscriptText());
  std::vector<double> heard;
  for (std::string line; std::getline(transcript, line);)
    if (line.find("host->pager") != std::string::npos) heard.push_back(std::stod(line));
  ASSERT_EQ(heard.size(), 9u) << served.server.pager().TranscriptText();
  for (size_t i = 2; i < heard.size(); ++i) EXPECT_GE(heard[i] - heard[i - 1], 1.04) << i;
}

TEST(PtyServer, HostThatLeavesMidHeaderLeavesTheNextHostAFreshLine) {
  Served served(Config());  // the host's silence ends a header only after 1 s
  ASSERT_TRUE(served.started);
  Client first(served.server.DevicePath());
  first.Wake();
  first.Write({0x86, 0x01, 0x00});
  first.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  Client next(served.server.DevicePath());
  next.Write({0xAA});
  EXPECT_EQ(next.Read(1, 500), Bytes{0x8B});  // a wake byte, not the header's fourth
  next.Close();
  served.Finish();
  ASSERT_FALSE(served.server.pager().Violations().empty());
  EXPECT_EQ(served.server.pager().Violations().front().detail,
            "line closed after 3 of 8 header bytes");
}

TEST(PtyServer, ServesAnExistingTty) {
  // The test holds the master of a pty pair and acts as the host; the server
  // serves the slave as if it were a serial port.
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  ServeOptions options;
  options.ttyPath = ::ptsname(master);
  options.baud = 9600;
  Served served(Config(), options);
  ASSERT_TRUE(served.started);
  ASSERT_EQ(::write(master, "\xAA", 1), 1);
  pollfd p{master, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  uint8_t answer = 0;
  EXPECT_EQ(::read(master, &answer, 1), 1);
  EXPECT_EQ(answer, 0x8B);
  served.Finish();
  ::close(master);
  EXPECT_EQ(served.end, PtyServer::End::kStopped);
  EXPECT_EQ(served.server.pager().Stats().wakeBytes, 1u);
}

TEST(PtyServer, StartRefusesToReplaceARegularFileWithTheSymlink) {
  char path[] = "/tmp/pagersim_test_XXXXXX";
  int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  PtyServer server(Config());
  ServeOptions options;
  options.symlinkPath = path;
  std::string error;
  EXPECT_FALSE(server.Start(options, &error));
  EXPECT_NE(error.find("not a symbolic link"), std::string::npos) << error;
  ::unlink(path);
}

// --- the executable -------------------------------------------------------

struct Child {
  pid_t pid = -1;
  FILE* out = nullptr;  // its stdout
  int in = -1;          // its stdin
};

// In a forked child: becomes the program args[0] with these arguments.
[[noreturn]] void Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

Child Spawn(const std::vector<std::string>& args) {
  int outPipe[2], inPipe[2];
  Child child;
  if (::pipe(outPipe) != 0 || ::pipe(inPipe) != 0) return child;
  child.pid = ::fork();
  if (child.pid == 0) {
    ::dup2(outPipe[1], 1);
    ::dup2(inPipe[0], 0);
    ::close(outPipe[0]);
    ::close(inPipe[1]);
    Exec(args);
  }
  ::close(outPipe[1]);
  ::close(inPipe[0]);
  child.out = ::fdopen(outPipe[0], "r");
  child.in = inPipe[1];
  return child;
}

int Wait(Child& child) {
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  if (child.out) std::fclose(child.out);
  if (child.in >= 0) ::close(child.in);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FirstLine(Child& child) {
  char line[256] = {};
  if (!std::fgets(line, sizeof line, child.out)) return "";
  return line;
}

// The device named by the child's "pagersim: serving on DEVICE" line; empty
// when the child did not start or the line says something else.
std::string ServedDevice(Child& child) {
  if (child.pid <= 0) return "";
  const std::string line = FirstLine(child);
  const std::string prefix = "pagersim: serving on ";
  if (line.rfind(prefix, 0) != 0 || line.back() != '\n') return "";
  return line.substr(prefix.size(), line.size() - prefix.size() - 1);
}

TEST(PagersimExe, ServesThroughTheSymlinkAndDumpsMemoryAfterTheHostCloses) {
  const std::string link = "/tmp/pagersim_test_link_" + std::to_string(::getpid());
  const std::string dump = "/tmp/pagersim_test_dump_" + std::to_string(::getpid());
  Child child = Spawn({PAGERSIM_EXE, "--once", "--symlink", link, "--dump", dump, "--status", "Y",
                       "--password", "hex:31 32 33 34 35 36 37 38 39 30", "--fill", "0"});
  ASSERT_GT(child.pid, 0);
  const std::string line = FirstLine(child);
  EXPECT_EQ(line.rfind("pagersim: serving on /dev/", 0), 0u) << line;
  {
    Client client(link);
    ASSERT_TRUE(client.ok());
    Bytes answers = client.WakeAndAsk({0x86, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02}, 37);
    ASSERT_EQ(answers.size(), 37u);
    EXPECT_EQ(answers[36], 'Y');
    client.Write({'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'});
    EXPECT_EQ(client.Read(1), Bytes{0xBB});
    client.Write(Block({0x12, 0x34}));
    EXPECT_EQ(client.Read(2), (Bytes{0x06, 0x06}));
  }
  EXPECT_EQ(Wait(child), 0);
  std::ifstream in(dump, std::ios::binary);
  Bytes memory((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(memory.size(), 65536u);
  EXPECT_EQ(memory[0x1FF], 0x00);
  EXPECT_EQ(memory[0x200], 0x12);
  EXPECT_EQ(memory[0x201], 0x34);
  EXPECT_NE(::access(link.c_str(), F_OK), 0);  // the symlink is gone
  ::unlink(dump.c_str());
}

// A simulator kept from running (here stopped outright, as a starved machine
// does for a while) past the pager's silence timeout: the header the host
// sent meanwhile is heard in time, not taken for a host gone quiet; and a
// block the host was halfway through goes on where it was.
TEST(PagersimExe, ASimulatorKeptFromRunningDoesNotTakeTheHostForSilent) {
  Child child = Spawn({PAGERSIM_EXE, "--status", "O"});
  const std::string device = ServedDevice(child);
  ASSERT_FALSE(device.empty());
  auto keptFromRunning = [&](const Bytes& sentMeanwhile) {
    ASSERT_EQ(::kill(child.pid, SIGSTOP), 0);
    Client(device).Write(sentMeanwhile);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // beyond the 1 s timeout
    ASSERT_EQ(::kill(child.pid, SIGCONT), 0);
  };
  {
    Client client(device);
    ASSERT_TRUE(client.ok());
    client.Write({0xAA});
    EXPECT_EQ(client.Read(1), Bytes{0x8B});
    keptFromRunning({0x86, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02});
    const Bytes answer = client.Read(37);
    ASSERT_EQ(answer.size(), 37u);  // info, records, status
    EXPECT_EQ(answer[36], 'O');
    keptFromRunning({0x12});  // the first of the two bytes
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.Write({0x34, 0x46});  // the second and the checksum
    EXPECT_EQ(client.Read(2), (Bytes{0x06, 0x06}));
  }
  ::kill(child.pid, SIGTERM);
  Wait(child);
}

std::string S1Record(uint16_t address, const Bytes& data) {
  const uint8_t count = static_cast<uint8_t>(data.size() + 3);
  unsigned sum = count + (address >> 8) + (address & 0xFF);
  char text[16];
  std::snprintf(text, sizeof text, "S1%02X%04X", count, address);
  std::string line = text;
  for (uint8_t b : data) {
    std::snprintf(text, sizeof text, "%02X", b);
    line += text;
    sum += b;
  }
  std::snprintf(text, sizeof text, "%02X\n", ~sum & 0xFF);
  return line + text;
}

TEST(PagersimExe, ServesAnSRecordImageAndDumpsOne) {
  const std::string image = "/tmp/pagersim_test_image_" + std::to_string(::getpid()) + ".s19";
  const std::string dump = "/tmp/pagersim_test_dump_" + std::to_string(::getpid()) + ".s19";
  {
    std::ofstream out(image);
    out << "S0030000FC\n" << S1Record(0x0100, {0xC0, 0xC1, 0xC2, 0xC3}) << "S9030000FC\n";
  }
  Child child = Spawn({PAGERSIM_EXE, "--once", "--image", image, "--dump", dump});
  const std::string device = ServedDevice(child);
  ASSERT_FALSE(device.empty());
  {
    Client client(device);
    ASSERT_TRUE(client.ok());
    Bytes answer = client.WakeAndAsk({0x86, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x04}, 42);
    ASSERT_EQ(answer.size(), 42u);
    EXPECT_EQ(Bytes(answer.begin() + 38, answer.end()), (Bytes{0xC0, 0xC1, 0xC2, 0xC3}));
  }
  EXPECT_EQ(Wait(child), 0);
  std::ifstream in(dump);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("S1130100C0C1C2C3"), std::string::npos);
  ::unlink(image.c_str());
  ::unlink(dump.c_str());

  // A damaged record is refused before anything is served.
  {
    std::ofstream out(image);
    out << "S0030000FC\nS1070100C0C1C2C300\nS9030000FC\n";
  }
  Child bad = Spawn({PAGERSIM_EXE, "--image", image});
  EXPECT_EQ(FirstLine(bad), "");
  EXPECT_EQ(Wait(bad), 2);
  // So is an image of records with wider addresses, which would load nothing.
  {
    std::ofstream out(image);
    out << "S0030000FC\nS208000100C0C1C2C3F0\nS804000000FB\n";
  }
  Child wide = Spawn({PAGERSIM_EXE, "--image", image});
  EXPECT_EQ(FirstLine(wide), "");
  EXPECT_EQ(Wait(wide), 2);
  ::unlink(image.c_str());
}

TEST(PagersimExe, StdinControlAndSignalsEndIt) {
  Child child = Spawn({PAGERSIM_EXE, "--stdin-control"});
  ASSERT_GT(child.pid, 0);
  EXPECT_EQ(FirstLine(child).rfind("pagersim: serving on ", 0), 0u);
  ::close(child.in);
  child.in = -1;
  EXPECT_EQ(Wait(child), 0);

  Child other = Spawn({PAGERSIM_EXE});
  ASSERT_GT(other.pid, 0);
  EXPECT_FALSE(FirstLine(other).empty());
  ::kill(other.pid, SIGTERM);
  EXPECT_EQ(Wait(other), 0);
}

TEST(PagersimExe, DisconnectFaultEndsWithExitCode3AndTheTranscriptIsWritten) {
  const std::string transcript = "/tmp/pagersim_test_transcript_" + std::to_string(::getpid());
  Child child = Spawn({PAGERSIM_EXE, "--fault", "wake:disconnect", "--transcript", transcript});
  const std::string device = ServedDevice(child);
  ASSERT_FALSE(device.empty());
  {
    Client client(device);
    ASSERT_TRUE(client.ok());
    client.Write({0xAA});
    EXPECT_EQ(client.Read(1, 200), Bytes{});  // the line is cut instead
  }
  EXPECT_EQ(Wait(child), 3);
  std::ifstream in(transcript);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("host->pager  AA"), std::string::npos) << text;
  ::unlink(transcript.c_str());
}

TEST(PagersimExe, BadOptionsGiveAClearErrorAndExitCode2) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--status", "toolong"},
      {"--password", "eleven-byte"},
      {"--fault", "nowhere:silence"},
      {"--fault", "wake:wrong"},
      {"--info", "hex:1"},
      {"--image", "/nonexistent/pagersim/image.bin"},
  };
  for (const auto& extra : cases) {
    std::vector<std::string> args{PAGERSIM_EXE};
    args.insert(args.end(), extra.begin(), extra.end());
    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(errPipe[1], 2);
      Exec(args);
    }
    ::close(errPipe[1]);
    std::string err;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(errPipe[0], buffer, sizeof buffer)) > 0) err.append(buffer, n);
    ::close(errPipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << extra[0];
    EXPECT_EQ(err.rfind("pagersim: error: ", 0), 0u) << err;
  }
}

}  // namespace
}  // namespace pagersim
