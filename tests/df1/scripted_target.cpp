#include "scripted_target.h"

#include <gtest/gtest.h>

namespace zq::testing {

namespace {

std::uint32_t u32At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint32_t>(m[at] | m[at + 1] << 8 | m[at + 2] << 16 | m[at + 3] << 24);
}

std::uint16_t u16At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint16_t>(m[at] | m[at + 1] << 8);
}

}  // namespace

ScriptedTarget::ScriptedTarget(ScriptedLine& line) : line_(line) {
    line_.setSendScript([this](const Bytes& frame) { onFrame(frame); });
}

void ScriptedTarget::setPlId(int channel, std::uint32_t l1, std::optional<std::uint32_t> l2) {
    std::lock_guard<std::mutex> guard(lock_);
    modules_[channel].l1 = l1;
    modules_[channel].l2 = l2;
}

void ScriptedTarget::setFault(std::uint8_t opcode, int n, Fault fault, int channel) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.push_back({opcode, n, channel, fault});
}

ScriptedTarget::Fault ScriptedTarget::faultFor(std::uint8_t opcode, int channel) const {
    for (const FaultRule& rule : faults_) {
        if (rule.opcode != opcode || (rule.channel >= 0 && rule.channel != channel)) continue;
        if (countUnlocked(opcode, rule.channel) >= static_cast<std::size_t>(rule.n))
            return rule.fault;
    }
    return Fault::None;
}

void ScriptedTarget::clearFaults() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
}

std::optional<Bytes> ScriptedTarget::takeAnswer() {
    std::lock_guard<std::mutex> guard(lock_);
    if (pieces_.empty()) return std::nullopt;
    Bytes piece = std::move(pieces_.front());
    pieces_.erase(pieces_.begin());
    return piece;
}

void ScriptedTarget::noteArmed(std::uint32_t ms) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!commands_.empty()) commands_.back().armedMs = ms;
}

std::size_t ScriptedTarget::count(std::uint8_t opcode, int channel) const {
    std::lock_guard<std::mutex> guard(lock_);
    return countUnlocked(opcode, channel);
}

std::size_t ScriptedTarget::countUnlocked(std::uint8_t opcode, int channel) const {
    std::size_t n = 0;
    for (const SeenCommand& c : commands_)
        if (c.opcode == opcode && (channel < 0 || c.channel == channel)) ++n;
    return n;
}

const std::map<std::uint32_t, std::uint8_t>& ScriptedTarget::memory(int channel) const {
    return modules_[channel].memory;
}

std::string ScriptedTarget::bytesAt(int channel, std::uint32_t address,
                                    std::uint32_t length) const {
    std::lock_guard<std::mutex> guard(lock_);
    std::string bytes;
    for (std::uint32_t i = 0; i < length; ++i) {
        auto it = modules_[channel].memory.find(address + i);
        bytes.push_back(
            static_cast<char>(it == modules_[channel].memory.end() ? 0xEE : it->second));
    }
    return bytes;
}

void ScriptedTarget::onFrame(const Bytes& sent) {
    std::lock_guard<std::mutex> guard(lock_);
    pieces_.clear();
    std::optional<PcFrame> frame = decodePcFrame(sent);
    if (!frame) {
        ADD_FAILURE() << "the PC sent a frame that does not decode";
        return;
    }
    if (frame->address == 0) {
        channel_ = frame->data.at(0) == 'a' ? 0 : 1;
        modules_[channel_].afterSwitch = true;
        commands_.push_back({channel_, 0, 0, 0, 0, 0});
        const Fault fault = faultFor(0, channel_);
        if (fault == Fault::None) pieces_.push_back(replyFrame(textBytes("START\r\nG"), 7));
        return;
    }
    const Bytes& m = frame->data;
    Module& module = modules_[channel_];
    if (m[0] == 0x01 && module.afterSwitch) module.level = 1;
    module.afterSwitch = false;
    const std::uint32_t address = m.size() >= 6 ? u32At(m, 2) : 0;
    std::uint32_t length = m.size() >= 10 ? u32At(m, 6) : 0;
    if (m[0] == 0x04) length = u16At(m, 6);
    commands_.push_back({channel_, m[0], address, length, 0, module.level});
    switch (faultFor(m[0], channel_)) {
        case Fault::None:
            pieces_ = replyTo(module, m);
            pieces_.front() = kAckBytes + pieces_.front();
            break;
        case Fault::Silent:
            pieces_.push_back(kAckBytes);
            break;
        case Fault::NoAnswerAtAll:
            break;
        case Fault::ErrorStatus:
            switch (m[0]) {
                case 0x02:
                    pieces_.push_back(kAckBytes + replyFrame(eraseReply(address, length, 100, 2)));
                    break;
                case 0x03:
                    pieces_.push_back(kAckBytes + replyFrame(uploadInitReply(address, length, 2)));
                    break;
                case 0x04:
                    pieces_.push_back(kAckBytes + replyFrame(writeReply(address, u16At(m, 6), 3)));
                    break;
                case 0x06:
                    pieces_.push_back(kAckBytes + replyFrame(execReply(address, 5)));
                    break;
                default:
                    pieces_.push_back(kAckBytes + replyFrame(rejectReply()));
                    break;
            }
            break;
    }
}

std::vector<Bytes> ScriptedTarget::replyTo(Module& module, const Bytes& m) {
    switch (m[0]) {
        case 0x01: {
            const std::uint32_t id = module.level == 2 && module.l2 ? *module.l2 : module.l1;
            return {replyFrame(connectReply(id, static_cast<std::uint8_t>(module.level)))};
        }
        case 0x02:
            return {replyFrame(eraseReply(u32At(m, 2), u32At(m, 6), 40)),
                    replyFrame(eraseReply(u32At(m, 2), u32At(m, 6), 100))};
        case 0x03:
            return {replyFrame(uploadInitReply(u32At(m, 2), u32At(m, 6)))};
        case 0x04: {
            const std::uint16_t length = u16At(m, 6);
            for (std::uint16_t i = 0; i < length; ++i)
                module.memory[u32At(m, 2) + i] = m.at(8u + i);
            return {replyFrame(writeReply(u32At(m, 2), length))};
        }
        case 0x06:
            module.level = 2;
            return {replyFrame(execReply(u32At(m, 2)))};
        default:
            return {replyFrame(rejectReply())};
    }
}

}  // namespace zq::testing
