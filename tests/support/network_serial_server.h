// Network serial servers for tests, on the loopback interface only: the
// ser2net daemon (Debian's ser2net) and, as a second, independent peer, the
// RFC 2217 server of Debian's python3-serial (rfc2217_peer.py beside this
// file), each bridging one TCP port to one serial device (a pagersim
// pseudo-terminal). The server runs as a child process; Stop (or the
// destructor) ends it by its process id and waits for it, boundedly. Link
// th_testnetserial.
#ifndef TESTS_SUPPORT_NETWORK_SERIAL_SERVER_H
#define TESTS_SUPPORT_NETWORK_SERIAL_SERVER_H

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testsupport {

// A TCP port on 127.0.0.1 that nothing listens on right now.
uint16_t FreeLoopbackPort();

// True when something accepts connections on 127.0.0.1:port within
// `timeoutMs` (the probe connects and closes at once).
bool WaitForListener(uint16_t port, int timeoutMs);

class NetworkSerialServer {
 public:
  enum class Kind { kSer2net, kPySerial };

  // Starts the server for `device` (line settings "9600n81" for ser2net).
  NetworkSerialServer(Kind kind, const std::string& device);
  ~NetworkSerialServer();
  NetworkSerialServer(const NetworkSerialServer&) = delete;
  NetworkSerialServer& operator=(const NetworkSerialServer&) = delete;

  bool Ok() const { return pid_ > 0 && error_.empty(); }
  const std::string& Error() const { return error_; }
  uint16_t Port() const { return port_; }
  // "rfc2217://127.0.0.1:PORT".
  std::string Url() const;
  // Ends the server (SIGTERM, then SIGKILL after 2 s); idempotent.
  void Stop();

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
  std::string dir_;
  std::string error_;
};

}  // namespace testsupport

#endif  // TESTS_SUPPORT_NETWORK_SERIAL_SERVER_H
