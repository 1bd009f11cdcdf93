#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "cli/rate_meter.h"
#include "gui/dialog_view.h"

namespace zq {
class JsonWriter;
}

namespace zq::cli {

// One JSON object on one line, flushed: an event of --json output.
void jsonLine(std::ostream& out, const std::function<void(JsonWriter&)>& fill);

// The main window on a terminal, for `burn`: what the operator would read in the window comes
// out as lines (the operator field, the info text, every message box). The window's bar starts
// again with every range; the terminal's bar is the engine's count over the whole request
// instead (both processors, every range and pass), with its rate and the time left, so that a
// person can plan with it. On a terminal the info text and that bar share a status line that
// is redrawn in place; elsewhere (a log file) a line per ten percent. With JSON, one object a
// line per event. The controls' enabled states are the window's business and show nothing.
class TerminalView : public DialogView {
public:
    enum class Style { Plain, Terminal, Json };

    // The engine's count of the running request; total 0 while there is none.
    struct Count {
        std::uint64_t done = 0;
        std::uint64_t total = 0;
    };

    // err: where a journal that could not be written is reported (besides a JSON event).
    TerminalView(std::ostream& out, std::ostream& err, Style style)
        : out_(out), err_(err), style_(style) {}

    void setTitle(const std::string&) override {}
    void setText(unsigned control, const std::string& text) override;
    void setEnabled(unsigned, bool) override {}
    void setItems(unsigned control, const std::vector<std::string>& items) override;
    void setSelection(unsigned control, int index) override { selection_[control] = index; }
    int selection(unsigned control) const override;
    void showProgress(bool shown) override;
    void setProgress(unsigned position) override;
    void showMessage(unsigned stringId, const std::string& text) override;
    void beginWaitCursor() override {}
    void endWaitCursor() override {}
    void postClose() override { closePosted_ = true; }
    void destroyWindow() override { destroyed_ = true; }

    // Where the count is read, each time the dialog shows a step of the engine.
    void setCountSource(std::function<Count()> source) { countSource_ = std::move(source); }

    // The next unit of a series: its procedure is shown afresh, as after a new start.
    void beginUnit();
    // An instruction of the command's own for the operator, shown as the procedure's are.
    void prompt(const std::string& text) { event("prompt", text); }
    // A line of the command's own (text output only).
    void note(const std::string& text) {
        if (style_ != Style::Json) line(text);
    }

    // A check ends its procedure with the dialog's "Hotovo" as a burn does, but has burnt
    // nothing: the box is kept to itself, and the command says what it found instead.
    void hideDone() { doneHidden_ = true; }

    const std::vector<std::string>& items(unsigned control) const;
    bool closePosted() const { return closePosted_; }
    bool destroyed() const { return destroyed_; }
    // How the procedure ended: kStrDone "Hotovo", kStrError "Chyba", 0 not (yet).
    unsigned ending() const { return ending_; }
    // Why the run's record is not in the journal; empty when it is (or none was due).
    const std::string& journalError() const { return journalError_; }

    // The last line: the result of the command. Text output has already shown "Hotovo" or
    // "Chyba" with its reason when the run ended so; otherwise it says "Chyba" and why here.
    // An empty reason after "Chyba" stands for the reason shown with it.
    void result(bool ok, const std::string& reason);

private:
    void line(const std::string& text);
    void event(const char* kind, const std::string& text);
    void infoChanged();
    // The dialog showed a step: the count is read again.
    void countChanged();
    void progressChanged();
    // The rate and the time left, as far as they are known: "  96.0 KiB/s  0:35 left".
    std::string rateText() const;
    // Terminal: the status line, drawn over the last one; committed, it stays as it is.
    void drawStatus();
    void commitStatus();

    std::ostream& out_;
    std::ostream& err_;
    Style style_;
    std::map<unsigned, int> selection_;
    std::map<unsigned, std::vector<std::string>> items_;
    std::string prompt_;
    std::string info_;
    std::string stem_;  // the info text without its count in parentheses
    std::function<Count()> countSource_;
    Count count_;
    RateMeter meter_;
    int shownPercent_ = -1;  // what was last printed or sent
    bool statusDrawn_ = false;
    std::size_t drawnWidth_ = 0;
    unsigned ending_ = 0;
    std::string reason_;  // the info text while "Chyba" was shown: the engine's reason
    std::string journalError_;
    bool doneHidden_ = false;
    bool closePosted_ = false;
    bool destroyed_ = false;
};

}  // namespace zq::cli
