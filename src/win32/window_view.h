#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/dialog_view.h"

namespace zq {
class MainDialog;
}

namespace zq::win32 {

class WindowPoster;

inline constexpr int kMainDialogResource = 100;
inline constexpr int kAppIconResource = 108;

// The main window: dialog 100 built from the program's resources, shown modeless. It turns
// the dialog's calls into the controls' messages and the window's messages into the dialog's
// handlers; it decides nothing itself. Texts are UTF-8 inside the program and UTF-16 here.
class WindowView : public DialogView {
public:
    // Creates the (hidden) window from the resource; window() is nullptr if that failed.
    explicit WindowView(HINSTANCE instance);
    ~WindowView() override;
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;

    HWND window() const { return window_; }

    // From now on the window's messages go to dialog; the icon is set and the window shown.
    void connect(MainDialog& dialog, HICON icon);
    // No message reaches the dialog any more (it is about to be released).
    void disconnect() { dialog_ = nullptr; }

    void setTitle(const std::string& text) override;
    void setText(unsigned control, const std::string& text) override;
    void setEnabled(unsigned control, bool enabled) override;
    void setItems(unsigned control, const std::vector<std::string>& items) override;
    void setSelection(unsigned control, int index) override;
    int selection(unsigned control) const override;
    void showProgress(bool shown) override;
    void setProgress(unsigned position) override;
    void showMessage(unsigned stringId, const std::string& text) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    void postClose() override;
    void destroyWindow() override;

private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(unsigned control, unsigned code);
    void restoreFocus();
    HWND item(unsigned control) const { return GetDlgItem(window_, static_cast<int>(control)); }

    HWND window_ = nullptr;
    MainDialog* dialog_ = nullptr;
    bool waitCursor_ = false;
    // The control that had the keyboard focus when it was disabled, until the focus is back.
    HWND focusLost_ = nullptr;
    static constexpr UINT kRestoreFocus = WM_APP + 1;
};

// A modal OK box titled with the application's name; owner may be nullptr.
void showMessageBox(HWND owner, const std::string& text, UINT icon = 0);

}  // namespace zq::win32
