#pragma once

#include <string>
#include <vector>

namespace zq {

// The controls of the main window (dialog 100) by id.
enum DialogControl : unsigned {
    kPortCombo = 200,
    kOpenButton = 201,
    kCloseButton = 202,
    kVersionCombo = 203,
    kUnitCombo = 204,
    kProgramButton = 205,
    kProgressBar = 206,
    kInfoText = 207,
    kOperatorText = 208,
    kStatusText = 215,
};

// The first and last control whose enabled state the dialog's logic decides.
inline constexpr unsigned kFirstEnabledControl = kPortCombo;
inline constexpr unsigned kLastEnabledControl = kProgramButton;

// Message boxes that carry a text of their own rather than one of the string table (the
// pending message of a serial-port error).
inline constexpr unsigned kOwnText = 0;

// The main window as the dialog's logic sees it. The Windows window, the Qt window, the
// terminal front-end and the tests' recording view implement it and nothing more; everything
// the window decides lives in MainDialog. All calls come on the thread that runs the dialog.
class DialogView {
public:
    virtual ~DialogView() = default;

    virtual void setTitle(const std::string& text) = 0;
    // Buttons, the info text (207), the operator field (208) and the status text (215).
    virtual void setText(unsigned control, const std::string& text) = 0;
    virtual void setEnabled(unsigned control, bool enabled) = 0;
    // The entries of a combo box; the selection is set separately.
    virtual void setItems(unsigned control, const std::vector<std::string>& items) = 0;
    // index -1: no entry selected.
    virtual void setSelection(unsigned control, int index) = 0;
    // The entry the operator selected, -1 for none.
    virtual int selection(unsigned control) const = 0;

    // The progress bar (206): whether it is visible, and its position in 0..100.
    virtual void showProgress(bool shown) = 0;
    virtual void setProgress(unsigned position) = 0;

    // A modal message box with an OK button, titled with the application's name. stringId is
    // the text's string-table id (kOwnText for a text of its own); text is what it shows.
    virtual void showMessage(unsigned stringId, const std::string& text) = 0;

    // The wait cursor: all mouse input goes to the dialog window (so clicks no longer reach
    // the controls) and the system's wait cursor shows; end gives both back.
    virtual void beginWaitCursor() = 0;
    virtual void endWaitCursor() = 0;

    // Posts a close request (WM_CLOSE) that the window handles later through
    // MainDialog::onCloseWindow, after the handler that posted it has returned.
    virtual void postClose() = 0;
    // Destroys the window: the application's main loop ends.
    virtual void destroyWindow() = 0;
};

}  // namespace zq
