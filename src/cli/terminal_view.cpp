#include "cli/terminal_view.h"

#include <cstdio>
#include <functional>

#include "support/json_writer.h"
#include "support/string_ids.h"

namespace zq::cli {

namespace {

constexpr unsigned kBarWidth = 30;
constexpr unsigned kPlainStep = 10;

std::string stemOf(const std::string& text) {
    const std::size_t paren = text.find(" (");
    return paren == std::string::npos ? text : text.substr(0, paren);
}

bool isBareLabel(const std::string& text) {
    const std::size_t last = text.find_last_not_of(' ');
    return last != std::string::npos && text[last] == ':' && text.find(':') == last;
}

}  // namespace

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

void TerminalView::setText(unsigned control, const std::string& text) {
    // After "Hotovo" or "Chyba" the window returns to the first prompt and an empty info text;
    // the run is over for the terminal.
    if (ending_ != 0) return;
    if (control == kOperatorText) {
        if (text == prompt_) return;
        prompt_ = text;
        if (!text.empty()) event("prompt", text);
    } else if (control == kInfoText) {
        // The count first: the text of a request's end ("Burn operation successful") comes
        // after its 100 %.
        countChanged();
        // A two-processor unit's texts start with "A: " or "B: ", which a step without a text
        // of its own (a channel switch) shows alone: nothing to say on a terminal.
        const std::string shown = isBareLabel(text) ? std::string() : text;
        if (shown == info_) return;
        info_ = shown;
        infoChanged();
    }
}

void TerminalView::beginUnit() {
    ending_ = 0;
    reason_.clear();
    journalError_.clear();
    prompt_.clear();
    info_.clear();
    count_ = {};
    shownPercent_ = -1;
    meter_.restart();
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

// The window's bar, per range, is not the terminal's: it only tells that the engine moved.
void TerminalView::showProgress(bool) {
    countChanged();
}

void TerminalView::setProgress(unsigned) {
    countChanged();
}

void TerminalView::countChanged() {
    if (!countSource_ || ending_ != 0) return;
    const Count now = countSource_();
    if (now.done == count_.done && now.total == count_.total) return;
    // Another request (the next module of a left/right unit) counts from 0 at its own rate.
    if (now.total != count_.total || now.done < count_.done) {
        meter_.restart();
        shownPercent_ = -1;
    }
    count_ = now;
    if (count_.total == 0) {
        if (style_ == Style::Terminal && statusDrawn_) drawStatus();
        return;
    }
    meter_.add(RateMeter::Clock::now(), count_.done);
    progressChanged();
}

void TerminalView::infoChanged() {
    if (style_ == Style::Json) {
        if (!info_.empty()) event("info", info_);
        return;
    }
    // A text that only updates the count in its parentheses (the bytes still to write)
    // continues the step of the one before; any other text is a step of its own.
    const std::string stem = stemOf(info_);
    const bool newStep = stem != stem_;
    stem_ = stem;
    if (style_ == Style::Terminal) {
        if (newStep) commitStatus();
        if (!info_.empty()) drawStatus();
    } else if (newStep && !info_.empty()) {
        line(info_);
    }
}

void TerminalView::progressChanged() {
    const int now = static_cast<int>(count_.done * 100 / count_.total);
    switch (style_) {
        case Style::Json:
            if (now == shownPercent_) return;
            jsonLine(out_, [this, now](JsonWriter& json) {
                json.field("event", "progress");
                json.field("percent", now);
                json.field("bytes_done", count_.done);
                json.field("bytes_total", count_.total);
                json.key("eta_s");
                if (const auto left = meter_.secondsLeft(count_.total))
                    json.value(*left);
                else
                    json.null();
            });
            break;
        case Style::Terminal:
            drawStatus();
            break;
        case Style::Plain:
            // A line per ten percent: a log needs the trend, not every step.
            if (shownPercent_ >= 0 &&
                now / static_cast<int>(kPlainStep) == shownPercent_ / static_cast<int>(kPlainStep))
                return;
            out_ << "  " << now << " %" << rateText() << '\n' << std::flush;
            break;
    }
    shownPercent_ = now;
}

std::string TerminalView::rateText() const {
    std::string text;
    if (const auto rate = meter_.bytesPerSecond()) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "  %.1f KiB/s", *rate / 1024);
        text = shown;
    }
    const auto left = meter_.secondsLeft(count_.total);
    if (left && count_.done < count_.total) text += "  " + minutesSeconds(*left) + " left";
    return text;
}

void TerminalView::drawStatus() {
    std::string status = info_;
    if (count_.total > 0) {
        const std::uint64_t percent = count_.done * 100 / count_.total;
        const std::size_t filled = static_cast<std::size_t>(percent * kBarWidth / 100);
        status += (status.empty() ? "[" : "  [") + std::string(filled, '#') +
                  std::string(kBarWidth - filled, '.') + "] " + std::to_string(percent) + " %" +
                  rateText();
    }
    // Blanks over what the last drawing left beyond this one: no terminal escapes needed.
    const std::size_t width = status.size();
    if (width < drawnWidth_) status += std::string(drawnWidth_ - width, ' ');
    out_ << '\r' << status << std::flush;
    drawnWidth_ = width;
    statusDrawn_ = true;
}

void TerminalView::commitStatus() {
    if (!statusDrawn_) return;
    out_ << '\n';
    statusDrawn_ = false;
    drawnWidth_ = 0;
}

void TerminalView::showMessage(unsigned stringId, const std::string& text) {
    if (stringId == kStrJournalFailed) {
        journalError_ = text;
        err_ << text << std::endl;
        if (style_ == Style::Json)
            jsonLine(out_, [&](JsonWriter& json) {
                json.field("event", "journal");
                json.field("error", text);
            });
        return;
    }
    if (stringId == kStrDone || stringId == kStrError) ending_ = stringId;
    if (stringId == kStrError) reason_ = info_;
    if (stringId == kStrDone && doneHidden_) return;
    if (style_ == Style::Json) {
        jsonLine(out_, [&](JsonWriter& json) {
            json.field("event", "message");
            json.field("id", stringId);
            json.field("text", text);
        });
        return;
    }
    // The info field holds the engine's reason while "Chyba" is shown.
    line(stringId == kStrError && !info_.empty() ? text + ": " + info_ : text);
}

void TerminalView::result(bool ok, const std::string& reason) {
    if (style_ != Style::Json) {
        if (ending_ == 0) line(reason.empty() ? "Chyba" : "Chyba: " + reason);
        return;
    }
    jsonLine(out_, [&](JsonWriter& json) {
        json.field("event", "result");
        json.field("ok", ok);
        json.field("exitCode", !ok ? 1 : journalError_.empty() ? 0 : 3);
        json.field("text", ok ? "Hotovo" : "Chyba");
        if (!ok) json.field("error", reason.empty() ? reason_ : reason);
    });
}

void TerminalView::line(const std::string& text) {
    commitStatus();
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
