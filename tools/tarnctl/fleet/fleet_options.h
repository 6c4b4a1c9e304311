// The options of the job path (fleet.h) on a CLI11 subcommand.
#ifndef TARNCTL_FLEET_OPTIONS_H
#define TARNCTL_FLEET_OPTIONS_H

#include "fleet.h"

namespace CLI {
class App;
}

namespace tarnctl {

// --port (any number of times), --ports, --retries, --log, --json.
void AddFleetOptions(CLI::App* app, FleetOptions* fleet);
// --changed-only and --dry-run (write).
void AddChangedOnlyOptions(CLI::App* app, FleetOptions* fleet);

}  // namespace tarnctl

#endif  // TARNCTL_FLEET_OPTIONS_H
