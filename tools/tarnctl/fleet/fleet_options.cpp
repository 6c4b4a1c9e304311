// The command-line options of the job path (fleet.h) for CLI11.
#include "fleet_options.h"

#include <CLI/CLI.hpp>

namespace tarnctl {

void AddFleetOptions(CLI::App* app, FleetOptions* fleet) {
  app->add_option("--port", fleet->ports,
                  "Port settings, e.g. \"device = /dev/ttyUSB0 baud = 9600\" (default: the saved "
                  "settings, see `setup`); give it several times to serve several pagers at once")
      ->type_name("STRING")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app->add_option("--ports", fleet->portsFile,
                  "Serve the pagers on the ports listed in FILE (one settings string per line, "
                  "# comments outside quoted values), all at once")
      ->type_name("FILE");
  app->add_option("--retries", fleet->retries,
                  "Run a failed pager's job up to N more times, 2 s apart (not after a wrong "
                  "password, a disabled pager or a usage error)")
      ->type_name("N")
      ->check(CLI::Range(0, 100));
  app->add_option("--log", fleet->logFile,
                  "Append one JSON line per pager and job to FILE (the shop's record)")
      ->type_name("FILE");
  app->add_flag("--json", fleet->json, "Print the job's record as JSON instead of the report");
}

void AddChangedOnlyOptions(CLI::App* app, FleetOptions* fleet) {
  auto changed = app->add_flag("--changed-only", fleet->changedOnly,
                               "Read the pager first and write only the bytes that differ "
                               "(merged where that is cheaper), then read those back");
  app->add_flag("--dry-run", fleet->dryRun,
                "With --changed-only: read and print the plan, write nothing")
      ->needs(changed);
}

}  // namespace tarnctl
