#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "gui/app_toolkit.h"

namespace zq::win32 {

class WindowPoster;
class WindowView;

// The application's toolkit on Win32: message boxes, the shell for the web page, and the main
// window from the program's resources with its poster of the workers' notifications.
class WindowToolkit : public AppToolkit {
public:
    explicit WindowToolkit(HINSTANCE instance);
    ~WindowToolkit() override;

    void loadIcon() override;
    void showStartupMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void openWebPage(const std::string& url) override;
    DialogView& createMainWindow(DialogSetup& setup) override;
    void showMainWindow(MainDialog& dialog) override;
    void destroyMainWindow() override;

    // The main window, nullptr before it is created and after it is destroyed.
    HWND mainWindow() const;

private:
    HINSTANCE instance_;
    HICON icon_ = nullptr;
    std::unique_ptr<WindowView> view_;
    std::unique_ptr<WindowPoster> poster_;
};

}  // namespace zq::win32
