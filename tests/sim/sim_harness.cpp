#include "sim_harness.h"

#include <gtest/gtest.h>

namespace zq::sim::testing {

bool hasFrame(const std::vector<Incoming>& in) {
    for (const Incoming& i : in)
        if (i.kind == Incoming::Frame || i.kind == Incoming::BadFrame) return true;
    return false;
}

SimHarness::SimHarness(const SimConfig& config) : sim_(config, &trace_) {}

void SimHarness::send(const Bytes& bytes) {
    sim_.input(bytes.data(), bytes.size(), now_);
}

void SimHarness::collect() {
    Bytes out = sim_.takeOutput(now_);
    if (out.empty()) return;
    writes_.emplace_back(now_, out);
    reader_.feed(out, received_);
}

bool SimHarness::runUntil(const std::function<bool(const std::vector<Incoming>&)>& done,
                          SimTime limit) {
    const SimTime end = now_ + limit;
    for (;;) {
        sim_.advance(now_);
        collect();
        if (done({received_.begin() + static_cast<long>(taken_), received_.end()})) return true;
        if (now_ >= end) return false;
        auto next = sim_.nextDeadline();
        now_ = !next || *next > end ? end : std::max(now_, *next);
    }
}

void SimHarness::runFor(SimTime span) {
    runUntil([](const std::vector<Incoming>&) { return false; }, span);
}

std::vector<Incoming> SimHarness::take() {
    std::vector<Incoming> out(received_.begin() + static_cast<long>(taken_), received_.end());
    taken_ = received_.size();
    return out;
}

Bytes SimHarness::firstReply(const Bytes& frame, SimTime limit) {
    send(frame);
    runUntil(hasFrame, limit);
    for (const Incoming& in : take())
        if (in.kind == Incoming::Frame) return in.message;
    return {};
}

std::vector<int> SimHarness::erase(std::uint32_t address, std::uint32_t length) {
    send(pcFrame(1, eraseRequest(address, length)));
    std::vector<int> percents;
    auto finished = [&](const std::vector<Incoming>& in) {
        for (const Incoming& i : in)
            if (i.kind == Incoming::Frame && i.message.size() == 13 &&
                (i.message[10] == 100 || i.message[1] != 1))
                return true;
        return false;
    };
    EXPECT_TRUE(runUntil(finished));
    for (const Incoming& in : take()) {
        if (in.kind != Incoming::Frame) continue;
        EXPECT_EQ(in.message[0], 0xFD);
        EXPECT_EQ(getLe(in.message, 2, 4), address);
        EXPECT_EQ(getLe(in.message, 6, 4), length);
        if (in.message[1] != 1) return {-in.message[1]};
        percents.push_back(in.message[10]);
    }
    return percents;
}

std::vector<std::string> SimHarness::traceWith(std::initializer_list<std::string> fragments) const {
    std::vector<std::string> found;
    std::istringstream in(trace_.str());
    for (std::string line; std::getline(in, line);) {
        bool all = true;
        for (const std::string& f : fragments) all = all && line.find(f) != std::string::npos;
        if (all) found.push_back(line);
    }
    return found;
}

}  // namespace zq::sim::testing
