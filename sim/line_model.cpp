#include "sim/line_model.h"

#include <algorithm>

namespace zq::sim {

SimTime LineModel::wireTime(std::uint64_t bytes, std::uint32_t baud) {
    if (baud == 0) return 0;
    std::uint64_t bitMicros = bytes * 10u * 1000000u;
    return static_cast<SimTime>((bitMicros + baud - 1) / baud);
}

SimTime LineModel::received(std::size_t count, SimTime arrival) {
    bytesFromPc_ += count;
    if (baud_ == 0) return arrival;
    rxFree_ = std::max(arrival, rxFree_) + wireTime(count, baud_);
    return rxFree_;
}

void LineModel::send(Bytes bytes, SimTime notBefore) {
    if (bytes.empty()) return;
    queue_.push_back({std::move(bytes), notBefore});
}

SimTime LineModel::dueOf(const Item& item) const {
    return std::max(item.notBefore, txFree_) + wireTime(item.bytes.size(), baud_);
}

std::optional<SimTime> LineModel::nextDue() const {
    if (queue_.empty()) return std::nullopt;
    return dueOf(queue_.front());
}

Bytes LineModel::takeDue(SimTime now) {
    Bytes out;
    while (!queue_.empty() && dueOf(queue_.front()) <= now) {
        Item& item = queue_.front();
        txFree_ = dueOf(item);
        bytesToPc_ += item.bytes.size();
        const SimTime lag = now - txFree_;
        lagTotal_ += lag;
        lagMax_ = std::max(lagMax_, lag);
        ++chunksSent_;
        out.insert(out.end(), item.bytes.begin(), item.bytes.end());
        queue_.pop_front();
    }
    return out;
}

}  // namespace zq::sim
