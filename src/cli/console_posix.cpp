#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/console.h"

namespace zq::cli {

namespace {

std::atomic<bool> interruptSeen{false};
struct sigaction savedInt;
struct sigaction savedTerm;

extern "C" void onInterrupt(int) {
    interruptSeen.store(true);
}

}  // namespace

bool stdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

InterruptCatcher::InterruptCatcher() {
    interruptSeen.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read of the operator's Enter returns, so the loop sees it.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, &savedInt);
    ::sigaction(SIGTERM, &action, &savedTerm);
}

InterruptCatcher::~InterruptCatcher() {
    ::sigaction(SIGINT, &savedInt, nullptr);
    ::sigaction(SIGTERM, &savedTerm, nullptr);
}

bool InterruptCatcher::interrupted() {
    return interruptSeen.load();
}

Utf8Console::Utf8Console() = default;
Utf8Console::~Utf8Console() = default;

}  // namespace zq::cli
