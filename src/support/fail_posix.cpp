#include <cstdio>

#include "support/fail.h"

namespace zq {

// POSIX has no modal report; the assertion goes to standard error and the program goes on,
// as it does when the Windows operator chooses "ignore".
void defaultFailureReport(FailureKind kind, const char* text) {
    std::fprintf(stderr, "Assertion failed: %s \"%s\", module %s, line %d\n", failureKindName(kind),
                 text ? text : "", kFailModule, kFailLine);
    std::fflush(stderr);
}

}  // namespace zq
