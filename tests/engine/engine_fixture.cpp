#include "engine_fixture.h"

#include <gtest/gtest.h>

#include "support/vyjimka.h"

namespace zq {

void PrintTo(EngineState state, std::ostream* os) {
    *os << engineStateName(state);
}
void PrintTo(EngineStep step, std::ostream* os) {
    *os << engineStepName(step);
}
void PrintTo(MemOpState state, std::ostream* os) {
    *os << memOpStateName(state);
}

}  // namespace zq

namespace zq::testing {

void EngineTest::run(std::size_t limit) {
    pump([this] { return engine.state() == EngineState::Busy; },
         [this] {
             engine.step();
             return Shown{engine.infoText(), engine.progress()};
         },
         limit);
}

void EngineTest::runUntil(EngineStep step) {
    pump([this, step] {
             return engine.state() == EngineState::Busy && engine.currentStep() != step;
         },
         [this] {
             engine.step();
             return Shown{engine.infoText(), engine.progress()};
         },
         100000);
}

void EngineTest::runOp(MemOp& op, std::size_t limit) {
    pump([&op] { return op.state() == MemOpState::Running; },
         [this, &op] {
             op.poll();
             return Shown{op.infoText(), op.progress()};
         },
         limit);
}

void EngineTest::pump(const std::function<bool()>& busy, const std::function<Shown()>& advance,
                      std::size_t limit) {
    for (std::size_t delivered = 0; busy();) {
        if (std::optional<Bytes> piece = target.takeAnswer()) {
            if (++delivered > limit) return;
            target.noteArmed(protocol.armedPeriodMs());
            protocol.onSerialEvent(CommandProtocol::kBytesArrived, line.deliver(*piece));
        } else {
            // Nothing more comes from the far side: only a time-out can move the run on.
            std::optional<Notification> n = queue.waitFor(std::chrono::seconds(10));
            if (!n) {
                ADD_FAILURE() << "the run hangs in " << engineStepName(engine.currentStep());
                return;
            }
            if (n->message != WM_COM_TIMEOUT) continue;
        }
        // What the dialog shows after the step, each change once.
        if (Shown now = advance(); shown.empty() || !(shown.back() == now)) shown.push_back(now);
    }
}

void EngineTest::connect(bool doubleProcessor) {
    engine.startConnect(doubleProcessor);
    run();
    ASSERT_EQ(engine.state(), EngineState::Succeeded) << engine.errorText();
    engine.acknowledge();
    ASSERT_EQ(engine.state(), EngineState::Connected);
    shown.clear();
}

std::vector<SeenCommand> EngineTest::seen(std::uint8_t opcode, int channel) const {
    std::vector<SeenCommand> out;
    for (const SeenCommand& c : target.commands())
        if (c.opcode == opcode && (channel < 0 || c.channel == channel)) out.push_back(c);
    return out;
}

}  // namespace zq::testing
