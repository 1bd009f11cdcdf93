#include "cli/terminal_view.h"

#include <functional>

#include "cli/json_writer.h"

namespace zq::cli {

namespace {

constexpr unsigned kDone = 104;
constexpr unsigned kError = 106;
constexpr unsigned kBarWidth = 40;
constexpr unsigned kPlainStep = 10;

// One event: a JSON object on a line of its own, flushed, so that a script reading the output
// through a pipe sees each event when it happens.
void jsonLine(std::ostream& out, const std::function<void(JsonWriter&)>& fill) {
    {
        JsonWriter json(out);
        json.beginObject();
        fill(json);
        json.endObject();
    }
    out.flush();
}

}  // namespace

void TerminalView::setText(unsigned control, const std::string& text) {
    // After "Hotovo" or "Chyba" the window returns to the first prompt and an empty info text;
    // the run is over for the terminal.
    if (ending_ != 0) return;
    if (control == kOperatorText) {
        if (text == prompt_) return;
        prompt_ = text;
        if (!text.empty()) event("prompt", text);
    } else if (control == kInfoText) {
        if (text == info_) return;
        info_ = text;
        if (!text.empty()) event("info", text);
    }
}

void TerminalView::setItems(unsigned control, const std::vector<std::string>& items) {
    items_[control] = items;
}

const std::vector<std::string>& TerminalView::items(unsigned control) const {
    static const std::vector<std::string> none;
    auto it = items_.find(control);
    return it == items_.end() ? none : it->second;
}

int TerminalView::selection(unsigned control) const {
    auto it = selection_.find(control);
    return it == selection_.end() ? -1 : it->second;
}

void TerminalView::showProgress(bool shown) {
    if (shown == progressShown_) return;
    progressShown_ = shown;
    if (shown) {
        drawProgress();
    } else {
        endProgressLine();
        shownProgress_ = -1;
    }
}

void TerminalView::setProgress(unsigned position) {
    progress_ = position > 100 ? 100 : position;
    if (progressShown_) drawProgress();
}

void TerminalView::drawProgress() {
    const int now = static_cast<int>(progress_);
    if (now == shownProgress_) return;
    switch (style_) {
        case Style::Json:
            jsonLine(out_, [this](JsonWriter& json) {
                json.field("event", "progress");
                json.field("percent", progress_);
            });
            break;
        case Style::Terminal: {
            const unsigned filled = progress_ * kBarWidth / 100;
            out_ << "\r[" << std::string(filled, '#') << std::string(kBarWidth - filled, '.')
                 << "] "
                 << (progress_ < 10    ? "  "
                     : progress_ < 100 ? " "
                                       : "")
                 << progress_ << " %" << std::flush;
            onProgressLine_ = true;
            break;
        }
        case Style::Plain:
            // A line per ten percent: a log file needs the trend, not every step.
            if (shownProgress_ >= 0 && now / kPlainStep == shownProgress_ / kPlainStep) return;
            out_ << "  " << progress_ << " %\n" << std::flush;
            break;
    }
    shownProgress_ = now;
}

void TerminalView::endProgressLine() {
    if (!onProgressLine_) return;
    out_ << '\n';
    onProgressLine_ = false;
}

void TerminalView::showMessage(unsigned stringId, const std::string& text) {
    if (stringId == kDone || stringId == kError) ending_ = stringId;
    if (style_ == Style::Json) {
        jsonLine(out_, [&](JsonWriter& json) {
            json.field("event", "message");
            json.field("id", stringId);
            json.field("text", text);
        });
        return;
    }
    // The info field holds the engine's reason while "Chyba" is shown.
    line(stringId == kError && !info_.empty() ? text + ": " + info_ : text);
}

void TerminalView::result(bool ok, const std::string& reason) {
    if (style_ != Style::Json) {
        if (ending_ == 0) line(reason.empty() ? "Chyba" : "Chyba: " + reason);
        return;
    }
    jsonLine(out_, [&](JsonWriter& json) {
        json.field("event", "result");
        json.field("ok", ok);
        json.field("exitCode", ok ? 0 : 1);
        json.field("text", ok ? "Hotovo" : "Chyba");
        if (!ok) json.field("error", reason);
    });
}

void TerminalView::line(const std::string& text) {
    endProgressLine();
    out_ << text << '\n' << std::flush;
}

void TerminalView::event(const char* kind, const std::string& text) {
    if (style_ != Style::Json) {
        line(std::string(kind) == "prompt" ? "Obsluha: " + text : text);
        return;
    }
    jsonLine(out_, [&](JsonWriter& json) {
        json.field("event", kind);
        json.field("text", text);
    });
}

}  // namespace zq::cli
