// The simulated pager: the pagersim executable serving a pseudo-terminal.
#ifndef TARNCTL_SIM_H
#define TARNCTL_SIM_H

#include <memory>
#include <string>
#include <vector>

namespace tarnctl {

// Where pagersim is: $TARNCTL_PAGERSIM, next to tarnctl, the build tree
// tarnctl was built in, then the PATH. Empty when not found.
std::string FindPagersim();

class SimulatedPager {
 public:
  // Starts pagersim with the arguments and waits (up to 10 s) for the line
  // that names its device. Throws Error (exit 6) when it cannot.
  static std::unique_ptr<SimulatedPager> Start(const std::vector<std::string>& args);
  virtual ~SimulatedPager() = default;  // stops the simulator
  virtual std::string Device() const = 0;
};

// `tarnctl sim`: replaces tarnctl by pagersim with the arguments.
[[noreturn]] void ExecPagersim(const std::vector<std::string>& args);

}  // namespace tarnctl

#endif  // TARNCTL_SIM_H
