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
    command->add_option("--port", options->port, "Serial port of the KVSB adapter (COM3, /dev/...)")
        ->required()
        ->option_text("PORT");
    command
        ->add_option("--unit", options->unit,
                     "Unit type: KRAB101, KRCD101, KREF10x, KRGH101 or KRIJ11x")
        ->required()
        ->option_text("NAME");
    command
        ->add_option("--sw", options->sw,
                     "Software version: a section of config.ini (default: the catalogue's)")
        ->option_text("ID");
    command
        ->add_option("--trace", options->trace,
                     "Write everything on the line to FILE, one JSON object a line")
        ->option_text("FILE");
    command->add_flag("--yes", options->yes,
                      "Go on by itself where the operator would press Naprogramovat");
    command->add_flag("--verify", options->verify,
                      "Read every burnt byte back and compare it with the image");
}

}  // namespace zq::cli
