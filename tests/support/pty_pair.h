// A pseudo-terminal pair for tests: the code under test opens the slave by
// its path (SlavePath) like a serial device; the test, or a simulator, drives
// the master end.
//
// The pair keeps a descriptor of the slave open itself, in raw mode, so that
// nothing the master sends is echoed before the code under test opens the
// slave and so that the master does not see a hang-up each time the code
// under test closes its end. Link th_testpty.
#ifndef TESTS_SUPPORT_PTY_PAIR_H
#define TESTS_SUPPORT_PTY_PAIR_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testpty {

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // False when the pair could not be created (Error tells why).
  bool Ok() const { return master_ >= 0; }
  const std::string& Error() const { return error_; }
  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Sends bytes to the slave side. True when all were written.
  bool Write(const void* data, size_t size);
  bool Write(const std::vector<uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // Reads what the slave side sent: up to `size` bytes, waiting at most
  // `timeoutMs` in all. Returns the bytes read.
  size_t Read(void* buffer, size_t size, int timeoutMs);
  std::vector<uint8_t> Read(size_t size, int timeoutMs);
  // Discards whatever the slave side has sent so far.
  void Drain();

  // Closes the master: the slave side sees the line hang up.
  void CloseMaster();
  // Closes the pair's own slave descriptor.
  void CloseSlave();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string error_;
};

}  // namespace testpty

#endif  // TESTS_SUPPORT_PTY_PAIR_H
