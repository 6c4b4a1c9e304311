// What the tests of tarnctl's job path against simulated pagers share: a
// private folder with its own registry and configuration, pagersim
// processes that live until the test ends (or until sims_ is cleared), and
// tarnctl run to its end or started in the background. The test executable
// defines TARNCTL_EXE and PAGERSIM_EXE.
#ifndef TESTS_TARNCTL_SIM_FIXTURE_H
#define TESTS_TARNCTL_SIM_FIXTURE_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "process.h"
#include "sim.h"

namespace tarnctl_test {

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TARNCTL_PAGERSIM", PAGERSIM_EXE, 1);
    dir_ = MakeTempDir();
    ASSERT_EQ(Tarnctl({"register"}).exitCode, 0);
  }
  void TearDown() override {
    sims_.clear();
    RemoveTree(dir_);
  }
  // Starts a simulated pager; returns its settings string.
  std::string Sim(std::vector<std::string> args) {
    sims_.push_back(tarnctl::SimulatedPager::Start(args));
    return "device = " + sims_.back()->Device() + " baud = 9600";
  }
  std::vector<std::pair<std::string, std::string>> Env() const {
    return {{"COMRT_REGISTRY", dir_ + "/registry"}, {"XDG_CONFIG_HOME", dir_ + "/config"}};
  }
  RunResult Tarnctl(std::vector<std::string> args, double timeout = 60) {
    args.insert(args.begin(), TARNCTL_EXE);
    return tarnctl_test::Run(args, Env(), timeout);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  // Starts tarnctl with ARGS, standard output into the file `out` and
  // standard error into `err` (one file when they name the same), in a
  // session of its own with `ownSession`; the caller signals and reaps it.
  pid_t SpawnTarnctl(std::vector<std::string> args, const std::string& out, const std::string& err,
                     bool ownSession) {
    args.insert(args.begin(), TARNCTL_EXE);
    pid_t pid = fork();
    if (pid == 0) {
      if (ownSession) setsid();
      for (const auto& [k, v] : Env()) setenv(k.c_str(), v.c_str(), 1);
      int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int errFd = err == out ? outFd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(outFd, 1);
      dup2(errFd, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }

  std::string dir_;
  std::vector<std::unique_ptr<tarnctl::SimulatedPager>> sims_;
};

}  // namespace tarnctl_test

#endif  // TESTS_TARNCTL_SIM_FIXTURE_H
