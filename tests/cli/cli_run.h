#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "common/recording_failure_handler.h"
#include "support/vyjimka.h"

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

// Runs it in DIR (-C DIR) with these arguments; the process's own directory is kept.
inline CliResult runCliIn(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"-C", dir.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    const std::filesystem::path cwd = std::filesystem::current_path();
    CliResult r = runCli(argv);
    std::filesystem::current_path(cwd);
    return r;
}

// A burn leaves no serial-port message pending for a window that the command line never shows.
using BurnCliTest = zq::testing::PendingMessageTest;

}  // namespace zq::cli
