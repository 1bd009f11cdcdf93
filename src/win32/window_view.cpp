#include "win32/window_view.h"

#include <commctrl.h>

#include "gui/wokno.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq::win32 {

namespace {

std::wstring wide(const std::string& text) {
    return fromUtf8(text);
}

}  // namespace

void showMessageBox(HWND owner, const std::string& text, UINT icon) {
    MessageBoxW(owner, wide(text).c_str(), wide(loadString(kStrAppName)).c_str(), MB_OK | icon);
}

WindowView::WindowView(HINSTANCE instance) {
    // Dialog 100 holds a progress bar, whose window class exists only once comctl32 has
    // registered it; without it CreateDialogParamW fails and leaves no error code behind.
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    window_ = CreateDialogParamW(instance, MAKEINTRESOURCEW(kMainDialogResource), nullptr,
                                 &WindowView::dialogProc, reinterpret_cast<LPARAM>(this));
}

WindowView::~WindowView() {
    if (window_ != nullptr && IsWindow(window_)) DestroyWindow(window_);
}

void WindowView::connect(MainDialog& dialog, HICON icon) {
    dialog_ = &dialog;
    if (icon != nullptr) {
        // The class icon is what the task switcher shows; WM_SETICON the title bar.
        SetClassLongPtrW(window_, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));
        SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
}

INT_PTR CALLBACK WindowView::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        reinterpret_cast<WindowView*>(lParam)->window_ = window;
        // The window's own contents come from MainDialog::initDialog(); the focus stays where
        // the dialog manager puts it.
        return TRUE;
    }
    auto* view = reinterpret_cast<WindowView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (view == nullptr) return FALSE;
    if (message == WM_DESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        view->dialog_ = nullptr;
        // The main window is gone: the program's message loop ends.
        PostQuitMessage(0);
        return TRUE;
    }
    return view->handle(message, wParam, lParam) ? TRUE : FALSE;
}

bool WindowView::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETCURSOR:
            // While the mouse is captured for the wait cursor, every part of the window keeps
            // showing it; the controls would otherwise put back their own arrow.
            if (!waitCursor_) return false;
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
            return true;
        case WM_CLOSE:
            if (dialog_ != nullptr) dialog_->onCloseWindow();
            return true;
        case WM_ACTIVATE:
            // The dialog manager puts back the focus it saved, which is none when it was lost.
            if (LOWORD(wParam) != WA_INACTIVE && focusLost_ != nullptr)
                PostMessageW(window_, kRestoreFocus, 0, 0);
            return false;
        case kRestoreFocus:
            restoreFocus();
            return true;
        case WM_COMMAND:
            onCommand(LOWORD(wParam), HIWORD(wParam));
            return true;
        default:
            break;
    }
    if (message >= WM_COM_RXDATA && message <= WM_COM_TIMEOUT) {
        if (dialog_ != nullptr)
            dialog_->onNotification(
                {message, static_cast<std::intptr_t>(wParam), static_cast<std::intptr_t>(lParam)});
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 0);
        return true;
    }
    return false;
}

void WindowView::onCommand(unsigned control, unsigned code) {
    if (dialog_ == nullptr) return;
    if (code == CBN_SELCHANGE && control == kUnitCombo) {
        dialog_->onUnitChanged();
    } else if (code == BN_CLICKED) {
        // Enter and Escape arrive as IDOK and IDCANCEL; the window has no default button and
        // no cancel button, so they do nothing.
        switch (control) {
            case kProgramButton:
                dialog_->onProgram();
                break;
            case kOpenButton:
                dialog_->onOpenPort();
                break;
            case kCloseButton:
                dialog_->onClosePort();
                break;
            default:
                break;
        }
    }
}

void WindowView::setTitle(const std::string& text) {
    SetWindowTextW(window_, wide(text).c_str());
}

void WindowView::setText(unsigned control, const std::string& text) {
    // Static texts repaint on every change; skipping unchanged ones keeps the info text from
    // flickering at every progress notification.
    const std::wstring now = wide(text);
    HWND target = item(control);
    const int length = GetWindowTextLengthW(target);
    std::wstring old(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(target, old.data(), length + 1);
    old.resize(static_cast<std::size_t>(length));
    if (old != now) SetWindowTextW(target, now.c_str());
}

void WindowView::setEnabled(unsigned control, bool enabled) {
    HWND target = item(control);
    if (IsWindowEnabled(target) == (enabled ? TRUE : FALSE)) return;
    // Windows takes the keyboard focus away with the control that is disabled, and a dialog
    // without a focus takes no Tab: pressing "Otevřít" or "Naprogramovat" from the keyboard
    // would leave the operator stranded. The focus is given back once the refresh is over.
    if (!enabled && GetFocus() == target) focusLost_ = target;
    EnableWindow(target, enabled ? TRUE : FALSE);
    if (focusLost_ != nullptr) PostMessageW(window_, kRestoreFocus, 0, 0);
}

// Back to the control that lost the focus when it is enabled again, else to the next one that
// Tab would reach; while nothing is enabled, or a message box is in front, it waits.
void WindowView::restoreFocus() {
    if (focusLost_ == nullptr || GetActiveWindow() != window_) return;
    HWND focus = GetFocus();
    if (focus != nullptr && focus != window_) {
        focusLost_ = nullptr;
        return;
    }
    HWND target =
        IsWindowEnabled(focusLost_) ? focusLost_ : GetNextDlgTabItem(window_, focusLost_, FALSE);
    if (target == nullptr || !IsWindowEnabled(target)) return;
    focusLost_ = nullptr;
    SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

void WindowView::setItems(unsigned control, const std::vector<std::string>& items) {
    HWND combo = item(control);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : items)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(entry).c_str()));
}

void WindowView::setSelection(unsigned control, int index) {
    SendMessageW(item(control), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int WindowView::selection(unsigned control) const {
    const LRESULT selected = SendMessageW(item(control), CB_GETCURSEL, 0, 0);
    return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void WindowView::showProgress(bool shown) {
    ShowWindow(item(kProgressBar), shown ? SW_SHOWNA : SW_HIDE);
}

void WindowView::setProgress(unsigned position) {
    SendMessageW(item(kProgressBar), PBM_SETPOS, position, 0);
}

void WindowView::showMessage(unsigned, const std::string& text) {
    // A window that is already gone (closed from inside another box) owns no box any more.
    showMessageBox(IsWindow(window_) ? window_ : nullptr, text);
}

void WindowView::beginWaitCursor() {
    waitCursor_ = true;
    SetCapture(window_);
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void WindowView::endWaitCursor() {
    waitCursor_ = false;
    SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    ReleaseCapture();
}

void WindowView::postClose() {
    PostMessageW(window_, WM_CLOSE, 0, 0);
}

void WindowView::destroyWindow() {
    if (IsWindow(window_)) DestroyWindow(window_);
}

}  // namespace zq::win32
