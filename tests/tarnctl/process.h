// Runs a program for the tests: without a controlling terminal (its own
// session), with extra environment, its output captured, killed after a
// time limit.
#ifndef TESTS_TARNCTL_PROCESS_H
#define TESTS_TARNCTL_PROCESS_H

#include <string>
#include <utility>
#include <vector>

namespace tarnctl_test {

struct RunResult {
  int exitCode = -1;  // -1 when killed by a signal or the time limit
  bool timedOut = false;
  std::string out, err;
  double seconds = 0;
};

RunResult Run(const std::vector<std::string>& argv,
              const std::vector<std::pair<std::string, std::string>>& env, double timeoutSeconds,
              const std::string& input = {});

// A fresh private folder under the temporary folder, removed by the caller.
std::string MakeTempDir();
void RemoveTree(const std::string& dir);

std::string ReadFile(const std::string& path);
// An S19 file holding `data` from `address`: a header, S1 records of 16
// bytes, the end record.
std::string S19File(unsigned address, const std::vector<unsigned char>& data);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace tarnctl_test

#endif  // TESTS_TARNCTL_PROCESS_H
