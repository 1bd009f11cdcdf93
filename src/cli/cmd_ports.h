#pragma once

#include "cli/cli_context.h"

namespace zq::cli {

// zidavuvorud-cli ports: the serial devices of this machine, one a line (name, then what the
// system says of it), or {"ports":[{"name":...,"description":...}]} with --json.
void registerPortsCommand(CLI::App& app, CliContext& context);

}  // namespace zq::cli
