#include "cli/console_failure_handler.h"

#include <cstdio>

namespace zq::cli {

void ConsoleFailureHandler::onFailure() {
    std::fprintf(stderr, "zidavuvorud-cli: internal check failed: %s \"%s\" (module %s, line %d)\n",
                 failureKindName(kind()), text() ? text() : "", kFailModule, kFailLine);
}

}  // namespace zq::cli
