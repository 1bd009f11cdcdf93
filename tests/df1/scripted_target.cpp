#include "scripted_target.h"

#include <gtest/gtest.h>

namespace zq::testing {

namespace {

std::uint32_t u32At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint32_t>(m[at] | m[at + 1] << 8 | m[at + 2] << 16 | m[at + 3] << 24);
}

}  // namespace

ScriptedTarget::ScriptedTarget() {
    setPlID(0, 0x10000001);
    setPlID(1, 0x10000001);
}

ScriptedTarget::ScriptedTarget(ScriptedLine& line) : ScriptedTarget() {
    line.setSendScript([this](const Bytes& sent) {
        if (std::optional<PcFrame> frame = decodePcFrame(sent))
            onFrame(*frame);
        else
            ADD_FAILURE() << "the PC sent a frame that does not decode";
    });
}

ScriptedTarget::~ScriptedTarget() = default;

void ScriptedTarget::setPlID(int channel, std::uint32_t l1, std::optional<std::uint32_t> l2,
                             bool daemonReads) {
    std::lock_guard<std::mutex> guard(lock_);
    sim::ModuleSetup setup;
    setup.name = "ch" + std::to_string(channel);
    setup.channel = channel;
    setup.plID = l1;
    setup.l2plID = l2.value_or(l1);
    setup.eraseSteps = 2;
    setup.daemonReads = daemonReads;
    sim::ModuleHost& host = *this;
    modules_[channel] = std::make_unique<sim::TargetModule>(host, setup);
    modules_[channel]->powerOn();
}

void ScriptedTarget::startDaemon(int channel) {
    std::lock_guard<std::mutex> guard(lock_);
    sim::TargetModule& module = *modules_[channel];
    std::uint32_t ram = 0;
    for (const sim::MapRange& range : module.map())
        if (range.kind == sim::RangeKind::Ram) ram = static_cast<std::uint32_t>(range.span.start);
    const Bytes at = le32(ram);
    withhold_ = true;
    module.handle(withCrc(Bytes{sim::op::kUploadInit, 0} + at + Bytes{1, 0, 0, 0}), {});
    module.handle(withCrc(Bytes{sim::op::kWrite, 0} + at + Bytes{1, 0, 0}), {});
    module.handle(withCrc(Bytes{sim::op::kExec, 0} + at), {});
    withhold_ = false;
}

ScriptedTarget::Fault ScriptedTarget::faultFor(std::uint8_t opcode, int channel) const {
    for (const FaultRule& rule : faults_) {
        if (rule.opcode != opcode || (rule.channel >= 0 && rule.channel != channel)) continue;
        if (countUnlocked(opcode, rule.channel) >= static_cast<std::size_t>(rule.n))
            return rule.fault;
    }
    return Fault::None;
}

void ScriptedTarget::schedule(sim::SimTime at, std::function<void()> action) {
    scheduled_.emplace(at, std::move(action));
}

void ScriptedTarget::emit(sim::TargetModule&, std::vector<sim::Reply> replies) {
    if (withhold_) return;
    for (sim::Reply& reply : replies) pieces_.push_back(replyFrame(reply.message));
}

void ScriptedTarget::onFrame(const PcFrame& frame) {
    std::lock_guard<std::mutex> guard(lock_);
    // A new request: what was still due for the last one never comes (an erase still running
    // finishes unheard).
    withhold_ = true;
    while (!scheduled_.empty()) scheduled_.extract(scheduled_.begin()).mapped()();
    withhold_ = false;
    pieces_.clear();
    // A time-out that beat the pump sends the same frame again; it is no new request.
    const bool repeat = !commands_.empty() && frame == last_;
    last_ = frame;
    if (frame.address == 0) {
        channel_ = frame.data.at(0) == 'a' ? 0 : 1;
        afterSwitch_[channel_] = true;
        commands_.push_back({channel_, 0, 0, 0, 0, 0, repeat});
        if (faultFor(0, channel_) == Fault::None)
            pieces_.push_back(replyFrame(textBytes("START\r\nG"), sim::kPacketTypeAdapter));
        return;
    }
    const Bytes& m = frame.data;
    sim::TargetModule& module = *modules_[channel_];
    // A CONNECT that comes first after a channel switch finds the module power-cycled, as the
    // operator does between runs: the boot loader answers again.
    if (m.at(0) == sim::op::kConnect && afterSwitch_[channel_]) {
        module.powerOff();
        module.powerOn();
    }
    afterSwitch_[channel_] = false;
    const std::uint32_t address = m.size() >= 6 ? u32At(m, 2) : 0;
    std::uint32_t length = m.size() >= 10 ? u32At(m, 6) : 0;
    if (m[0] == sim::op::kWrite || m[0] == sim::op::kRead)
        length = static_cast<std::uint32_t>(m[6] | m[7] << 8);
    commands_.push_back({channel_, m[0], address, length, 0, module.level(), repeat});

    const Fault fault = faultFor(m[0], channel_);
    if (fault == Fault::NoAnswerAtAll) return;
    sim::CommandFaults faults;
    if (fault == Fault::ErrorStatus) faults.status = sim::status::kNotInMap;
    static const sim::FaultRule weakCell = [] {
        sim::FaultRule rule;
        rule.kind = sim::FaultKind::WeakCell;
        return rule;
    }();
    if (fault == Fault::WeakCell) faults.weakCell = [] { return &weakCell; };
    withhold_ = fault == Fault::Silent;
    module.handle(m, faults);
    stepIfIdle();
    if (pieces_.empty()) pieces_.emplace_back();
    pieces_.front() = kAckBytes + pieces_.front();
}

// An erase reports its progress as it goes: the next step is due once the PC took the last.
void ScriptedTarget::stepIfIdle() {
    if (pieces_.empty() && !scheduled_.empty()) scheduled_.extract(scheduled_.begin()).mapped()();
}

std::optional<Bytes> ScriptedTarget::takeAnswer() {
    std::lock_guard<std::mutex> guard(lock_);
    stepIfIdle();
    if (pieces_.empty()) return std::nullopt;
    Bytes piece = std::move(pieces_.front());
    pieces_.pop_front();
    return piece;
}

std::size_t ScriptedTarget::countUnlocked(std::uint8_t opcode, int channel) const {
    std::size_t n = 0;
    for (const SeenCommand& c : commands_)
        if (c.opcode == opcode && !c.repeat && (channel < 0 || c.channel == channel)) ++n;
    return n;
}

std::string ScriptedTarget::bytesAt(int channel, std::uint32_t address,
                                    std::uint32_t length) const {
    std::lock_guard<std::mutex> guard(lock_);
    const sim::SparseMemory& memory = modules_[channel]->memory();
    std::string bytes;
    for (std::uint32_t i = 0; i < length; ++i)
        bytes.push_back(
            static_cast<char>(memory.isWritten(address + i) ? memory.read(address + i, 0) : 0xEE));
    return bytes;
}

}  // namespace zq::testing
