#pragma once

#include <QIcon>

#include <functional>
#include <memory>
#include <string>

#include "gui/app_toolkit.h"

namespace zq::qt {

class EventPoster;
class MainWindow;

struct QtToolkitOptions {
    // A port named on the command line: first in the port combo box and selected.
    std::string port;
    // What ends the application when the window has been destroyed.
    std::function<void()> quit;
};

// The application's toolkit with Qt Widgets: message boxes, the update question, the web
// browser, and the main window with its notification poster.
class QtToolkit : public AppToolkit {
public:
    explicit QtToolkit(QtToolkitOptions options = {});
    ~QtToolkit() override;

    void loadIcon() override;
    void showStartupMessage(const std::string& text) override;
    bool askYesNo(const std::string& text) override;
    void openWebPage(const std::string& url) override;
    DialogView& createMainWindow(DialogSetup& setup) override;
    void showMainWindow(MainDialog& dialog) override;
    void destroyMainWindow() override;

    MainWindow* window() const { return window_.get(); }

private:
    QtToolkitOptions options_;
    QIcon icon_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<EventPoster> poster_;
    NotificationPoster* previousPoster_ = nullptr;
};

}  // namespace zq::qt
