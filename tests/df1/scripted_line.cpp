#include "scripted_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "support/vyjimka.h"

namespace zq::testing {

void ScriptedLine::send(const std::uint8_t* data, std::uint32_t length) {
    SendScript script;
    Bytes frame(data, data + length);
    {
        std::lock_guard<std::mutex> guard(lock_);
        sent_.push_back(frame);
        lastData_ = data;
        lastLength_ = length;
        script = script_;
    }
    if (script) script(frame);
}

void ScriptedLine::startRx(std::uint8_t* buffer, std::uint32_t length, RxMode mode) {
    std::lock_guard<std::mutex> guard(lock_);
    buffer_ = buffer;
    capacity_ = length;
    count_ = 0;
    mode_ = mode;
}

void ScriptedLine::resetRx() {
    std::lock_guard<std::mutex> guard(lock_);
    if (failReset_) {
        failReset_ = false;
        throw new CVyjimkaN(0, "ScriptedLine::resetRx()");
    }
    count_ = 0;
}

void ScriptedLine::discardRx(std::uint32_t count) {
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_LE(count, count_) << "discarding bytes that never came";
    count = std::min(count, count_);
    std::memmove(buffer_, buffer_ + count, count_ - count);
    count_ -= count;
}

void ScriptedLine::stopRx() {
    std::lock_guard<std::mutex> guard(lock_);
    buffer_ = nullptr;
    capacity_ = 0;
    count_ = 0;
}

std::uint32_t ScriptedLine::deliver(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (buffer_ == nullptr) return 0;
    auto n = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), capacity_ - count_));
    if (n > 0) std::memcpy(buffer_ + count_, bytes.data(), n);
    count_ += n;
    return n;
}

std::vector<PcFrame> ScriptedLine::sentFrames() {
    std::vector<PcFrame> frames;
    for (const Bytes& bytes : sent()) {
        auto frame = decodePcFrame(bytes);
        EXPECT_TRUE(frame.has_value()) << "the PC sent something that is not one good frame";
        if (frame) frames.push_back(*frame);
    }
    return frames;
}

}  // namespace zq::testing
