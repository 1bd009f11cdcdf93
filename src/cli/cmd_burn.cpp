#include <CLI/CLI.hpp>

#include <memory>

#include "cli/cli_context.h"
#include "cli/unit_run.h"

namespace zq::cli {

void registerBurnCommand(CLI::App& app, CliContext& context) {
    auto options = std::make_shared<UnitRunOptions>();
    CLI::App* command = addCommand(
        app, context, "burn",
        "Burn a unit's images of RT19_bin into its modules, as the operator does at the window",
        [&context, options] { return UnitRun(context, *options).run(); });
    addUnitRunOptions(*command, *options);
    command->add_flag("--verify", options->verify,
                      "Read every burnt byte back and compare it with the image");
    command
        ->add_option("--series", options->series,
                     "Burn N units one after the other on the open port (0: until q)")
        ->option_text("N");
}

}  // namespace zq::cli
