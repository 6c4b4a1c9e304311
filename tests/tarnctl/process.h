// Runs a program for the tests: without a controlling terminal (its own
// session), with extra environment, its output captured, killed after a
// time limit. Also the files the tests share: temporary folders, S19 images,
// and the bytes of a trace or a simulator's transcript.
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

// The bytes of a tarnctl trace each way, as " AA 87 01 ..". A line holds the
// bytes of one burst; how the bytes of a header fall into bursts depends on
// timing, so the bytes of each direction are joined. A masked byte is " **".
void TraceBytes(const std::string& trace, std::string* toPager, std::string* toHost);
// The bytes of a pagersim transcript in one direction ("host->pager" or
// "pager->host"), in the same form.
std::string TranscriptBytes(const std::string& transcript, const std::string& direction);

}  // namespace tarnctl_test

#endif  // TESTS_TARNCTL_PROCESS_H
