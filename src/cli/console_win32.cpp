#include <windows.h>

#include <io.h>
#include <stdio.h>

#include <atomic>

#include "cli/console.h"

namespace zq::cli {

namespace {

std::atomic<bool> interruptSeen{false};
UINT savedCodePage = 0;

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    interruptSeen.store(true);
    return TRUE;
}

}  // namespace

bool stdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

InterruptCatcher::InterruptCatcher() {
    interruptSeen.store(false);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

InterruptCatcher::~InterruptCatcher() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}

bool InterruptCatcher::interrupted() {
    return interruptSeen.load();
}

Utf8Console::Utf8Console() {
    if (!stdoutIsTerminal()) return;
    savedCodePage = GetConsoleOutputCP();
    if (savedCodePage != 0) SetConsoleOutputCP(CP_UTF8);
}

Utf8Console::~Utf8Console() {
    if (savedCodePage != 0) SetConsoleOutputCP(savedCodePage);
    savedCodePage = 0;
}

}  // namespace zq::cli
