#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "adapter_wire.h"
#include "os/serial_line.h"

namespace zq::testing {

// A serial line in memory. What the PC sends is recorded (and handed to an optional script,
// on the sending thread, which must not call back into the protocol); what the far side sends
// is put into the receive buffer with deliver(), from any thread. Like the real port, bytes
// beyond the buffer are dropped.
class ScriptedLine : public SerialLine {
public:
    using SendScript = std::function<void(const Bytes& frame)>;

    void open() override {}
    void send(const std::uint8_t* data, std::uint32_t length) override;
    void startRx(std::uint8_t* buffer, std::uint32_t length, RxMode mode) override;
    void resetRx() override;
    void discardRx(std::uint32_t count) override;
    void stopRx() override;
    void stopTx() override {}
    bool isWriting() override { return false; }
    std::uint32_t receivedCount() override {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }

    // Stores bytes as the receive thread would; returns how many fitted.
    std::uint32_t deliver(const Bytes& bytes);
    void setSendScript(SendScript script) {
        std::lock_guard<std::mutex> guard(lock_);
        script_ = std::move(script);
    }
    // The next resetRx throws, as a port whose lock cannot be had does.
    void failNextReset() {
        std::lock_guard<std::mutex> guard(lock_);
        failReset_ = true;
    }

    std::vector<Bytes> sent() {
        std::lock_guard<std::mutex> guard(lock_);
        return sent_;
    }
    // The block of the last send as the line holds it now (a real line writes it later).
    Bytes lastBlockNow() {
        std::lock_guard<std::mutex> guard(lock_);
        return Bytes(lastData_, lastData_ + lastLength_);
    }
    std::size_t sentCount() {
        std::lock_guard<std::mutex> guard(lock_);
        return sent_.size();
    }
    // The frames sent, decoded (a frame that does not decode fails the test).
    std::vector<PcFrame> sentFrames();
    RxMode rxMode() {
        std::lock_guard<std::mutex> guard(lock_);
        return mode_;
    }
    std::uint32_t rxLength() {
        std::lock_guard<std::mutex> guard(lock_);
        return capacity_;
    }
    bool receiving() {
        std::lock_guard<std::mutex> guard(lock_);
        return buffer_ != nullptr;
    }

private:
    std::mutex lock_;
    std::uint8_t* buffer_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t count_ = 0;
    RxMode mode_ = RxMode::OnComplete;
    bool failReset_ = false;
    std::vector<Bytes> sent_;
    const std::uint8_t* lastData_ = nullptr;
    std::uint32_t lastLength_ = 0;
    SendScript script_;
};

}  // namespace zq::testing
