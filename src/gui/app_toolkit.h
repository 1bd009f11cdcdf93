#pragma once

#include <string>

#include "gui/wokno.h"

namespace zq {

class DialogView;
class MainDialog;

// What the application needs of a window toolkit, and nothing more. Each front-end (the Win32
// window, the Qt window) implements it once; the tests implement it with a recording fake.
// ProgrammerApp calls it on the GUI thread only, in the order of start-up and shut-down.
class AppToolkit {
public:
    virtual ~AppToolkit() = default;

    // The application icon (icon 108, 32 x 32). A missing icon is no reason to stop the start.
    virtual void loadIcon() = 0;

    // A plain modal OK box titled with the application's name, shown while no window exists
    // (a start-up failure). Returns when the operator has confirmed it.
    virtual void showStartupMessage(const std::string& text) = 0;

    // The update question: a modal box with Yes and No and a question icon; true for Yes.
    virtual bool askYesNo(const std::string& text) = 0;

    // Opens a web page in the system's default browser without waiting for it.
    virtual void openWebPage(const std::string& url) = 0;

    // Creates the main window (dialog 100), not yet shown, and returns its view, which stays
    // valid until destroyMainWindow(). setup receives what the front-end sets of the dialog's
    // surroundings (port names, the line of a port, where the port selection is kept).
    virtual DialogView& createMainWindow(DialogSetup& setup) = 0;

    // Connects the created window to its logic (the window's events go to dialog from now on),
    // sets the window's icon, makes it the target of the workers' notifications and shows it.
    // dialog.initDialog() has run.
    virtual void showMainWindow(MainDialog& dialog) = 0;

    // Releases the window after its logic has been released (shut-down).
    virtual void destroyMainWindow() = 0;
};

}  // namespace zq
