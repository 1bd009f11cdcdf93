#include "cli/cli.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <system_error>

#include "cli/cli_context.h"
#include "cli/cmd_ports.h"
#include "gui/app_version.h"
#include "support/text.h"

namespace zq::cli {

void registerVersionsCommand(CLI::App& app, CliContext& context);
void registerPlatformsCommand(CLI::App& app, CliContext& context);
void registerInfoCommand(CLI::App& app, CliContext& context);
void registerBurnCommand(CLI::App& app, CliContext& context);
void registerCheckCommand(CLI::App& app, CliContext& context);
void registerUpdateCheckCommand(CLI::App& app, CliContext& context);
void registerJournalCommand(CLI::App& app, CliContext& context);

namespace {

// Subcommands, in the order --help lists them.
constexpr CommandRegistrar kCommands[] = {
    registerVersionsCommand,
    registerPlatformsCommand,
    registerPortsCommand,
    registerInfoCommand,
    registerBurnCommand,
    registerCheckCommand,
    registerJournalCommand,
    registerUpdateCheckCommand,
};

bool enterDirectory(const std::string& directory, std::ostream& err) {
    if (directory.empty()) return true;
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(fromUtf8(directory)), error);
    if (!error) return true;
    err << "zidavuvorud-cli: cannot change to directory '" << directory << "': " << error.message()
        << '\n';
    return false;
}

}  // namespace

CLI::App* addCommand(CLI::App& app, CliContext& context, const std::string& name,
                     const std::string& description, std::function<int()> action) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_flag("--json", context.json, "Print JSON instead of text");
    context.actions.emplace_back(command, std::move(action));
    return command;
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Zidavuvorud QS: burns firmware into signalling control modules over the "
        "KVSB programming adapter.",
        "zidavuvorud-cli"};
    app.set_version_flag("--version", programVersion(), "Print the program version");
    std::string directory;
    app.add_option("-C", directory, "Run as if started in DIR (the folder that holds RT19_bin)")
        ->option_text("DIR");
    app.require_subcommand(0, 1);

    CliContext context{out, err, false, {}};
    for (CommandRegistrar registrar : kCommands)
        if (registrar != nullptr) registrar(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e, out, err);
        return code == 0 ? kExitDone : kExitUsage;
    }
    if (app.get_subcommands().empty()) {
        err << app.help();
        return kExitUsage;
    }
    if (!enterDirectory(directory, err)) return kExitUsage;
    for (const auto& [command, action] : context.actions)
        if (command->parsed()) return action();
    return kExitUsage;
}

}  // namespace zq::cli
