#pragma once

#include <optional>
#include <ostream>

#include "sim/sim_config.h"

namespace zq::sim {

// Parses kvsb-sim's command line into `config`. Gives an exit code when the program should end
// at once (0 after --help, 2 for a usage error, with its message written), nothing to go on.
std::optional<int> parseOptions(int argc, const char* const* argv, SimConfig& config,
                                std::ostream& out, std::ostream& err);

}  // namespace zq::sim
