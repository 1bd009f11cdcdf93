#include "win32/window_toolkit.h"

#include <shellapi.h>

#include "gui/wokno.h"
#include "support/string_table.h"
#include "support/text.h"
#include "win32/window_poster.h"
#include "win32/window_view.h"

namespace zq::win32 {

namespace {

constexpr int kIconSize = 32;

}  // namespace

WindowToolkit::WindowToolkit(HINSTANCE instance) : instance_(instance) {}

WindowToolkit::~WindowToolkit() {
    destroyMainWindow();
    if (icon_ != nullptr) DestroyIcon(icon_);
}

void WindowToolkit::loadIcon() {
    icon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kAppIconResource), IMAGE_ICON,
                                          kIconSize, kIconSize, 0));
}

void WindowToolkit::showStartupMessage(const std::string& text) {
    showMessageBox(nullptr, text);
}

bool WindowToolkit::askYesNo(const std::string& text) {
    return MessageBoxW(nullptr, fromUtf8(text).c_str(), fromUtf8(loadString(kStrAppName)).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void WindowToolkit::openWebPage(const std::string& url) {
    ShellExecuteW(nullptr, L"open", fromUtf8(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

DialogView& WindowToolkit::createMainWindow(DialogSetup&) {
    // The dialog's defaults are Windows' own: COM1 to COM16, each a ComPort.
    view_ = std::make_unique<WindowView>(instance_);
    return *view_;
}

void WindowToolkit::showMainWindow(MainDialog& dialog) {
    poster_ = std::make_unique<WindowPoster>(view_->window());
    installNotificationPoster(poster_.get());
    view_->connect(dialog, icon_);
}

void WindowToolkit::destroyMainWindow() {
    if (poster_ != nullptr) {
        // Waits for a post still running on a worker before the poster goes.
        if (notificationPoster() == poster_.get()) installNotificationPoster(nullptr);
        poster_.reset();
    }
    view_.reset();
}

HWND WindowToolkit::mainWindow() const {
    return view_ != nullptr && IsWindow(view_->window()) ? view_->window() : nullptr;
}

}  // namespace zq::win32
