#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gui/dialog_view.h"

namespace zq {
class MainDialog;
}

namespace zq::testing {

// A message box as the operator saw it, with the info text and operator field of that moment.
struct ShownMessage {
    unsigned id;
    std::string text;
    std::string infoText;

    bool operator==(const ShownMessage&) const = default;
};

// The window as the tests see it: the state of every control, every message box, the wait
// cursor, and a log of what happened in order. It plays the window's part in input too: a click
// reaches a control only while it is enabled and the mouse is not captured.
class RecordingView : public DialogView {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setText(unsigned control, const std::string& text) override;
    void setEnabled(unsigned control, bool enabled) override { enabled_[control] = enabled; }
    void setItems(unsigned control, const std::vector<std::string>& list) override {
        items_[control] = list;
    }
    void setSelection(unsigned control, int index) override { selection_[control] = index; }
    int selection(unsigned control) const override {
        return selection_.count(control) ? selection_.at(control) : -1;
    }
    void showProgress(bool shown) override { progressShown = shown; }
    void setProgress(unsigned position) override { maxProgress = std::max(maxProgress, position); }
    void showMessage(unsigned stringId, const std::string& text) override;
    void beginWaitCursor() override { log("cursor wait"), captured = true; }
    void endWaitCursor() override { log("cursor arrow"), captured = false; }
    void postClose() override { ++closePosts; }
    void destroyWindow() override { log("destroy"); }

    std::string text(unsigned control) const {
        return texts_.count(control) ? texts_.at(control) : "";
    }
    bool enabled(unsigned control) const { return enabled_.count(control) && enabled_.at(control); }
    std::vector<std::string> items(unsigned control) const { return items_.at(control); }

    // The enabled controls among 200 to 205, e.g. "202 203 204 205".
    std::string enabledControls() const;

    // The operator's input, refused (false) where the window would not deliver it.
    bool click(MainDialog& dialog, unsigned control);
    bool select(MainDialog& dialog, unsigned control, int index);

    // Entries of the log since the last call, e.g. "message <id> Hotovo", "cursor wait".
    std::vector<std::string> takeLog() { return std::exchange(log_, {}); }
    void log(const std::string& entry) { log_.push_back(entry); }

    std::string title;
    std::vector<ShownMessage> messages;
    // Every distinct info text in the order shown.
    std::vector<std::string> infoTexts;
    bool progressShown = true;  // a new window shows its bar at 0 until the first update
    unsigned maxProgress = 0;
    bool captured = false;
    int closePosts = 0;
    // Runs inside the next message box, as the window's messages do inside MessageBoxW's own
    // loop; the box is open while it runs. Used once, then cleared.
    std::function<void(unsigned id)> whileBoxOpen;

private:
    void capture(bool on, const std::string& entry) {
        captured = on;
        log(entry);
    }

    std::map<unsigned, std::string> texts_;
    std::map<unsigned, bool> enabled_;
    std::map<unsigned, std::vector<std::string>> items_;
    std::map<unsigned, int> selection_;
    std::vector<std::string> log_;
};

}  // namespace zq::testing
