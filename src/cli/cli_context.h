#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace zq::cli {

// Exit codes of zidavuvorud-cli.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// The unit is burnt, but its record is not in the journal.
inline constexpr int kExitNotRecorded = 3;

// What a subcommand needs from the front-end: where to write and whether to write JSON. Its
// action runs after the whole command line is parsed and -C has been applied, and returns the
// exit code.
struct CliContext {
    std::ostream& out;
    std::ostream& err;
    bool json = false;
    std::vector<std::pair<const CLI::App*, std::function<int()>>> actions;
};

// Adds a subcommand with its --json flag; options are added to the returned App.
CLI::App* addCommand(CLI::App& app, CliContext& context, const std::string& name,
                     const std::string& description, std::function<int()> action);

// Each subcommand lives in its own file and registers itself in cli.cpp's list.
using CommandRegistrar = void (*)(CLI::App& app, CliContext& context);

}  // namespace zq::cli
