#include <windows.h>

#include <cstdio>
#include <string>

#include "support/fail.h"
#include "support/text.h"

namespace zq {

// The operator may end the program, break into a debugger, or ignore the failure and go on.
void defaultFailureReport(FailureKind kind, const char* text) {
    std::string report = formatText(
        "Assertion failed!\n\nModule: %s\nLine: %d\n\n%s: %s\n\n"
        "(Abort ends the program, Retry starts the debugger, "
        "Ignore goes on.)",
        kFailModule, kFailLine, failureKindName(kind), text ? text : "");
    std::fprintf(stderr, "Assertion failed: %s \"%s\", module %s, line %d\n", failureKindName(kind),
                 text ? text : "", kFailModule, kFailLine);
    std::wstring wide = fromUtf8(report);
    int answer = MessageBoxW(nullptr, wide.c_str(), L"Assertion",
                             MB_ABORTRETRYIGNORE | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    if (answer == IDABORT) ExitProcess(3);
    if (answer == IDRETRY) DebugBreak();
}

}  // namespace zq
