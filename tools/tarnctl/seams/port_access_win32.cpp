// On Windows any user may open a COM port that no program holds: no advice.
#include "port_access.h"

namespace tarnctl {

std::vector<std::string> PortAccessAdviceFor(const std::string&, bool) {
  return {};
}

}  // namespace tarnctl
