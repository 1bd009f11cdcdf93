// zidavuvorud.exe: the operator's window on Windows.
#include <windows.h>

#include <commctrl.h>

#include "gui/programmer_app.h"
#include "os/shell.h"
#include "win32/window_toolkit.h"

namespace {

// Runs the window's messages until the main window is destroyed. Tab, the arrow keys and
// Alt+letter move between the controls as in any dialog only if IsDialogMessageW sees the keys.
void runMessageLoop(HWND window) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (window != nullptr && IsWindow(window) && IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    zq::win32::WindowToolkit toolkit(instance);
    zq::AppOptions options;
    options.programDirectory = zq::programDirectory();
    zq::ProgrammerApp app(toolkit, options);
    if (!app.startup()) return 1;
    runMessageLoop(toolkit.mainWindow());
    app.shutdown();
    return 0;
}
