// Network serial servers for tests (see network_serial_server.h).
#include "network_serial_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace testsupport {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

pid_t Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  return pid;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return 0;
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  uint16_t port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  return port;
}

bool WaitForListener(uint16_t port, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port);
    const bool up = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0) close(s);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

NetworkSerialServer::NetworkSerialServer(Kind kind, const std::string& device) {
  char pattern[] = "/tmp/th_netserial_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    error_ = "mkdtemp failed";
    return;
  }
  dir_ = pattern;
  port_ = FreeLoopbackPort();
  const std::string port = std::to_string(port_);
  if (kind == Kind::kSer2net) {
    const std::string config = dir_ + "/ser2net.yaml";
    std::ofstream(config) << "%YAML 1.1\n---\nconnection: &pager\n"
                          << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                          << "  connector: serialdev," << device << ",9600n81,local\n";
    pid_ = Spawn({"ser2net", "-n", "-c", config, "-P", dir_ + "/ser2net.pid"});
  } else {
    pid_ = Spawn({"/usr/bin/python3", RFC2217_PEER_SCRIPT, "--port", port, device});
  }
  if (pid_ <= 0) {
    error_ = "cannot start the server";
    return;
  }
  if (!WaitForListener(port_, 5000)) error_ = "the server does not listen on port " + port;
}

NetworkSerialServer::~NetworkSerialServer() {
  Stop();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string NetworkSerialServer::Url() const {
  return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

void NetworkSerialServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < 2000; waited += 10) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace testsupport
