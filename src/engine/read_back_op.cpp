#include "engine/read_back_op.h"

#include <algorithm>
#include <array>

#include "df1/command_protocol.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {

std::vector<MemorySpan> imageBlocks(const ImageReader& reader, const PlatformEntry& platform) {
    std::vector<MemorySpan> blocks;
    for (const MemRange& range : platform.ranges) {
        if (range.kind == RangeKind::Ram) continue;
        std::uint32_t start = 0, size = 0;
        reader.findRegion(range.start, range.size, start, size, nullptr);
        if (size != 0) blocks.push_back({start, size});
    }
    return blocks;
}

std::vector<MemorySpan> joinSpans(std::vector<MemorySpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const MemorySpan& a, const MemorySpan& b) { return a.address < b.address; });
    std::vector<MemorySpan> joined;
    for (const MemorySpan& span : spans) {
        if (span.length == 0) continue;
        const std::uint64_t end = std::uint64_t{span.address} + span.length;
        if (!joined.empty()) {
            MemorySpan& last = joined.back();
            const std::uint64_t lastEnd = std::uint64_t{last.address} + last.length;
            if (span.address <= lastEnd) {
                last.length = static_cast<std::uint32_t>(std::max(lastEnd, end) - last.address);
                continue;
            }
        }
        joined.push_back(span);
    }
    return joined;
}

void ModuleMemory::append(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
    if (runs_.empty() || std::uint64_t{runs_.back().address} + runs_.back().bytes.size() != address)
        runs_.push_back({address, {}});
    runs_.back().bytes.insert(runs_.back().bytes.end(), data, data + length);
}

bool ModuleMemory::byteAt(std::uint32_t address, std::uint8_t& value) const {
    // The last run that starts at or below the address.
    auto after = std::upper_bound(runs_.begin(), runs_.end(), address,
                                  [](std::uint32_t a, const Run& run) { return a < run.address; });
    if (after == runs_.begin()) return false;
    const Run& run = *(after - 1);
    if (address - run.address >= run.bytes.size()) return false;
    value = run.bytes[address - run.address];
    return true;
}

std::vector<RangeComparison> compareImage(ImageReader& reader, const PlatformEntry& platform,
                                          const ModuleMemory& module) {
    std::vector<RangeComparison> result;
    std::array<std::uint8_t, 4096> image{};
    for (const MemorySpan& block : imageBlocks(reader, platform)) {
        RangeComparison range{block.address, block.address + (block.length - 1), 0, 0, 0};
        reader.beginRead(block.address, block.length);
        for (;;) {
            std::uint32_t address = 0, length = 0;
            reader.readNext(image.data(), image.size(), address, length);
            if (length == 0) break;
            for (std::uint32_t i = 0; i < length; ++i) {
                std::uint8_t held = 0;
                if (module.byteAt(address + i, held) && held == image[i]) continue;
                if (range.differences++ == 0) range.firstDifference = address + i;
            }
            range.bytes += length;
        }
        result.push_back(range);
    }
    return result;
}

namespace {

constexpr const char* kRefused = "Check not possible: the daemon refused READ at 0x%08X";

}  // namespace

void ReadBackOp::start(bool) {
    if (!require(state_ == MemOpState::Idle, "expected state")) return;
    memory_.clear();
    spanIndex_ = 0;
    spanDone_ = 0;
    doneBytes_ = 0;
    totalBytes_ = 0;
    for (const MemorySpan& span : spans_) totalBytes_ += span.length;
    if (totalBytes_ == 0) return fail(kNoImageData);
    state_ = MemOpState::Running;
    readOn();
}

void ReadBackOp::readOn() {
    while (spanIndex_ < spans_.size() && spanDone_ == spans_[spanIndex_].length) {
        ++spanIndex_;
        spanDone_ = 0;
    }
    if (spanIndex_ == spans_.size()) {
        state_ = MemOpState::Done;
        return setInfoText();
    }
    const MemorySpan& span = spans_[spanIndex_];
    chunkAddress_ = span.address + spanDone_;
    chunkLength_ = std::min(span.length - spanDone_, kChunkSize);
    protocol_.read(chunkAddress_, chunkLength_);
    setInfoText();
}

void ReadBackOp::poll() {
    if (state_ != MemOpState::Running) return;
    switch (protocol_.state()) {
        case TxnState::Done: {
            MemPtr reply;
            protocol_.reply(reply);
            if (!require(reply.size() == chunkLength_, "correct size"))
                return fail(readFailure(kRefused, chunkAddress_, chunkLength_));
            memory_.append(chunkAddress_, reply.data(), chunkLength_);
            spanDone_ += chunkLength_;
            doneBytes_ += chunkLength_;
            return readOn();
        }
        case TxnState::ErrorReply:
        case TxnState::NoReply:
            return fail(readFailure(kRefused, chunkAddress_, chunkLength_));
        case TxnState::Idle:
        case TxnState::Waiting:
        case TxnState::InProgress:
            return;
    }
}

void ReadBackOp::fail(std::string text) {
    state_ = MemOpState::Failed;
    errorText_ = std::move(text);
    setInfoText();
}

void ReadBackOp::setInfoText() {
    infoText_.clear();
    if (state_ != MemOpState::Running) return;
    const MemorySpan& span = spans_[spanIndex_];
    infoText_ = formatText("Reading memory range 0x%08X - 0x%08X (%d B)", span.address,
                           span.address + (span.length - 1),
                           static_cast<int>(span.length - spanDone_));
}

std::uint8_t ReadBackOp::progress() const {
    switch (state_) {
        case MemOpState::Running:
            return static_cast<std::uint8_t>(doneBytes_ * 100 / totalBytes_);
        case MemOpState::Done:
            return 100;
        default:
            return kNoProgress;
    }
}

}  // namespace zq
