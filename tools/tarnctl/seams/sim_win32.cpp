// The pager simulator serves pseudo-terminals, which Windows lacks.
#include "errors.h"
#include "sim.h"

namespace tarnctl {

std::string FindPagersim() {
  return {};
}

std::unique_ptr<SimulatedPager> SimulatedPager::Start(const std::vector<std::string>&) {
  throw Error(kExitComponents, "the pager simulator runs on POSIX systems only",
              "run `tarnctl demo` on Linux, or map a COM port to a simulator with a null-modem "
              "pair");
}

void ExecPagersim(const std::vector<std::string>&) {
  throw Error(kExitComponents, "the pager simulator runs on POSIX systems only");
}

}  // namespace tarnctl
