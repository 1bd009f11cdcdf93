#include <iostream>

#include "cli/cli.h"
#include "cli/console_failure_handler.h"

int main(int argc, char** argv) {
    // The first handler constructed is the process-wide one: contract failures of a terminal
    // program go to standard error, never to a modal window.
    zq::cli::ConsoleFailureHandler failures;
    return zq::cli::run(argc, argv, std::cout, std::cerr);
}
