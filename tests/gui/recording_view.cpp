#include "recording_view.h"

#include <utility>

#include "gui/wokno.h"

namespace zq::testing {

void RecordingView::setText(unsigned control, const std::string& text) {
    texts_[control] = text;
    if (control == kInfoText && !text.empty() && (infoTexts.empty() || infoTexts.back() != text))
        infoTexts.push_back(text);
    if (control == kInfoText) log("info " + text);
}

void RecordingView::setItems(unsigned control, const std::vector<std::string>& items) {
    items_[control] = items;
}

int RecordingView::selection(unsigned control) const {
    auto it = selection_.find(control);
    return it == selection_.end() ? -1 : it->second;
}

void RecordingView::showProgress(bool shown) {
    progressShown = shown;
}

void RecordingView::setProgress(unsigned position) {
    progress = position;
    if (position > maxProgress) maxProgress = position;
}

void RecordingView::showMessage(unsigned stringId, const std::string& text) {
    messages.push_back({stringId, text, this->text(kInfoText)});
    log("message " + std::to_string(stringId) + " " + text);
    if (whileBoxOpen) std::exchange(whileBoxOpen, nullptr)(stringId);
}

void RecordingView::beginWaitCursor() {
    captured = true;
    log("cursor wait");
}

void RecordingView::endWaitCursor() {
    captured = false;
    log("cursor arrow");
}

void RecordingView::postClose() {
    ++closePosts;
    log("post close");
}

void RecordingView::destroyWindow() {
    destroyed = true;
    log("destroy");
}

std::string RecordingView::text(unsigned control) const {
    auto it = texts_.find(control);
    return it == texts_.end() ? std::string() : it->second;
}

bool RecordingView::enabled(unsigned control) const {
    auto it = enabled_.find(control);
    return it != enabled_.end() && it->second;
}

const std::vector<std::string>& RecordingView::items(unsigned control) const {
    static const std::vector<std::string> none;
    auto it = items_.find(control);
    return it == items_.end() ? none : it->second;
}

std::string RecordingView::enabledControls() const {
    std::string out;
    for (unsigned id = kFirstEnabledControl; id <= kLastEnabledControl; ++id) {
        if (!enabled(id)) continue;
        if (!out.empty()) out += ' ';
        out += std::to_string(id);
    }
    return out;
}

bool RecordingView::click(MainDialog& dialog, unsigned control) {
    if (captured || !enabled(control)) return false;
    switch (control) {
        case kOpenButton:
            dialog.onOpenPort();
            return true;
        case kCloseButton:
            dialog.onClosePort();
            return true;
        case kProgramButton:
            dialog.onProgram();
            return true;
        default:
            return false;
    }
}

bool RecordingView::select(MainDialog& dialog, unsigned control, int index) {
    if (captured || !enabled(control)) return false;
    selection_[control] = index;
    if (control == kUnitCombo) dialog.onUnitChanged();
    return true;
}

std::vector<std::string> RecordingView::takeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}

}  // namespace zq::testing
