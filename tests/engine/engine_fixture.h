#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "common/recording_failure_handler.h"
#include "df1/command_protocol.h"
#include "df1/protocol_fixture.h"
#include "df1/scripted_line.h"
#include "df1/scripted_target.h"
#include "engine/programming_engine.h"
#include "os/notifications.h"
#include "support/mem_source.h"

namespace zq {

void PrintTo(EngineState state, std::ostream* os);
void PrintTo(EngineStep step, std::ostream* os);
void PrintTo(MemOpState state, std::ostream* os);

}  // namespace zq

namespace zq::testing {

// An image file in memory, readable as the engine reads a file.
class ImageSource {
public:
    explicit ImageSource(std::string bytes)
        : bytes_(std::move(bytes)),
          source_(MemPtr(reinterpret_cast<std::uint8_t*>(bytes_.data()),
                         static_cast<std::uint32_t>(bytes_.size()))) {}
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;
    ByteSource& source() { return source_; }

private:
    std::string bytes_;
    MemSource source_;
};

// What the dialog would have shown after one step().
struct Shown {
    std::string infoText;
    std::uint8_t progress;

    bool operator==(const Shown&) const = default;
};

// The engine on the real protocol and frame layers over a scripted line, with a scripted
// adapter and modules on the far side. The test thread plays the dialog: run() hands the
// far side's answers and the protocol's time-outs to the protocol, then calls step().
class EngineTest : public ProtocolOnLineTest {
protected:
    // Time-outs of milliseconds instead of seconds, for the far side's silences.
    static constexpr ProtocolOptions kShortTimeouts{.timeScaleDivisor = 1000};

    explicit EngineTest(const ProtocolOptions& options = {}) : ProtocolOnLineTest(options) {}

    // Steps the engine until it is no longer Busy, or until `limit` answers were delivered.
    void run(std::size_t limit = 100000);
    // Steps the engine while it is Busy in another step than `step`.
    void runUntil(EngineStep step);
    // Polls an operation until it is no longer Running (or `limit` answers were delivered).
    void runOp(MemOp& op, std::size_t limit = 100000);

    // The engine's state and error text, as "Failed: why".
    std::string outcome() const {
        return std::string(engineStateName(engine.state())) + ": " + engine.errorText();
    }
    // Acknowledges the result, as the operator does; the state that leaves.
    EngineState acknowledged() {
        engine.acknowledge();
        return engine.state();
    }
    // Connects and checks that it worked (then acknowledged: Connected).
    void connect(bool doubleProcessor = false);
    // The commands of a kind that the far side saw.
    std::vector<SeenCommand> seen(std::uint8_t opcode, int channel = -1) const;

    // Delivers the far side's answers and time-outs while `busy` holds, calling `advance` after
    // each as the dialog calls step(), and notes what it then shows.
    void pump(const std::function<bool()>& busy, const std::function<Shown()>& advance,
              std::size_t limit);

    ScriptedTarget target{line};
    PlatformList platforms;
    ProgrammingEngine engine{protocol, platforms};
    std::vector<Shown> shown;
};

}  // namespace zq::testing
