#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "df1/wire_observer.h"
#include "engine/programming_engine.h"
#include "os/notifications.h"

namespace zq {
class JsonWriter;
}

namespace zq::cli {

// burn --trace: one JSON object a line for everything on the line, each with "t_us", the
// microseconds since the trace began, and "event":
//     frame     dir "out"/"in", attempt (out), hex (out), df1 (out: frame address), and the
//               decoded message: kind "command"/"reply"/"channel", op, opcode, status,
//               address, length, level, percent, channel; "fault" for a broken frame (in)
//     rx        hex: the bytes the receiver scanned
//     ack / nak
//     timeout   attempt: the transmission whose time-out expired
//     end       state: how the exchange ended
//     notification   message, wparam, lparam: what the main loop handed to the dialog
//     engine    state, step, info (and error): the engine's after a change
//     result    text "Hotovo" or "Chyba", error: how the run ended
// A record is formatted into memory under a short lock; a writer thread of its own puts the
// lines in the file, so the line's traffic never waits for the disk.
class WireTrace : public WireObserver {
public:
    // nullptr with a message when the file cannot be created.
    static std::unique_ptr<WireTrace> create(const std::string& path, std::string& error);
    ~WireTrace() override;
    WireTrace(const WireTrace&) = delete;
    WireTrace& operator=(const WireTrace&) = delete;

    void frameOut(const std::uint8_t* frame, std::uint32_t length, std::uint32_t attempt) override;
    void bytesIn(const std::uint8_t* bytes, std::uint32_t length) override;
    void acknowledgement(bool refused) override;
    void frameIn(const std::uint8_t* message, std::uint32_t length, const char* fault) override;
    void timeout(std::uint32_t attempt) override;
    void exchangeEnded(TxnState state) override;

    void notification(const Notification& n);
    // Records the engine's state, step and info text when one changed since the last call.
    void engine(const ProgrammingEngine* engine);
    // How the run ended for the operator ("Hotovo", "Chyba"), with the engine's error text.
    void outcome(const std::string& text, const std::string& error);

private:
    explicit WireTrace(std::FILE* file);
    // One record, time-stamped and formatted under the lock, into the pending lines.
    void emit(const char* event, const std::function<void(JsonWriter&)>& fields);
    void drain();

    std::FILE* file_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex lock_;
    std::condition_variable wake_;
    std::string pending_;
    bool stopping_ = false;
    std::int64_t lastState_ = -1;
    std::int64_t lastStep_ = -1;
    std::string lastInfo_;
    std::thread writer_;
};

}  // namespace zq::cli
