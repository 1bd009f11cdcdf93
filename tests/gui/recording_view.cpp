#include "recording_view.h"

#include <utility>

#include "gui/wokno.h"

namespace zq::testing {

void RecordingView::setText(unsigned control, const std::string& text) {
    texts_[control] = text;
    if (control != kInfoText) return;
    if (!text.empty() && (infoTexts.empty() || infoTexts.back() != text)) infoTexts.push_back(text);
    log("info " + text);
}

void RecordingView::showMessage(unsigned stringId, const std::string& text) {
    messages.push_back({stringId, text, this->text(kInfoText)});
    log("message " + std::to_string(stringId) + " " + text);
    if (whileBoxOpen) std::exchange(whileBoxOpen, nullptr)(stringId);
}

std::string RecordingView::enabledControls() const {
    std::string out;
    for (unsigned id = kFirstEnabledControl; id <= kLastEnabledControl; ++id)
        if (enabled(id)) out.append(out.empty() ? "" : " ").append(std::to_string(id));
    return out;
}

bool RecordingView::click(MainDialog& dialog, unsigned control) {
    if (captured || !enabled(control)) return false;
    if (control == kOpenButton) dialog.onOpenPort();
    if (control == kCloseButton) dialog.onClosePort();
    if (control == kProgramButton) dialog.onProgram();
    return true;
}

bool RecordingView::select(MainDialog& dialog, unsigned control, int index) {
    if (captured || !enabled(control)) return false;
    selection_[control] = index;
    if (control == kUnitCombo) dialog.onUnitChanged();
    return true;
}

}  // namespace zq::testing
