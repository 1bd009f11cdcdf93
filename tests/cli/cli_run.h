#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace zq::cli {

struct CliResult {
    int code;
    std::string out;
    std::string err;
};

// Runs zidavuvorud-cli with these arguments, capturing both streams.
inline CliResult runCli(std::vector<const char*> args) {
    args.insert(args.begin(), "zidavuvorud-cli");
    std::ostringstream out, err;
    int code = run(static_cast<int>(args.size()), args.data(), out, err);
    return {code, out.str(), err.str()};
}

}  // namespace zq::cli
