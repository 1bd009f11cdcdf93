#pragma once

#include <ostream>

namespace zq::cli {

// The whole command line of zidavuvorud-cli; returns the exit code.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zq::cli
