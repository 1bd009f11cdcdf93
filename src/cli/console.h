#pragma once

namespace zq::cli {

// The terminal around the program (console_posix.cpp / console_win32.cpp).

// True when standard output is a terminal (or a Windows console), where a line can be redrawn.
bool stdoutIsTerminal();

// While it exists, Ctrl-C (SIGINT and SIGTERM; the console's Ctrl-C and Ctrl-Break events)
// does not end the program but is noted, for the main loop to wind down a run as the window's
// close box does. Outside it Ctrl-C ends the program as usual.
class InterruptCatcher {
public:
    InterruptCatcher();
    ~InterruptCatcher();
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

    // An interrupt came since the catcher was installed.
    static bool interrupted();
};

// Lets the console show the program's UTF-8 texts for its lifetime (Windows consoles use an
// OEM code page otherwise); nothing to do on POSIX terminals.
class Utf8Console {
public:
    Utf8Console();
    ~Utf8Console();
    Utf8Console(const Utf8Console&) = delete;
    Utf8Console& operator=(const Utf8Console&) = delete;
};

}  // namespace zq::cli
