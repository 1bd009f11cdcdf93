#pragma once

#include <ostream>

#include "sim/sim_config.h"

namespace zq::sim {

// Opens the line, serves it until a stop condition, then writes the dump and the summary.
// Gives the exit code: 0 done, 1 the dump could not be written, 2 the line could not be opened.
int serve(const SimConfig& config, std::ostream& out, std::ostream& err);

}  // namespace zq::sim
