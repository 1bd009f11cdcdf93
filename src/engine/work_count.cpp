#include "engine/work_count.h"

#include <algorithm>
#include <memory>

#include "engine/image_fit.h"
#include "engine/mem_op.h"
#include "image/image_reader.h"

namespace zq {

std::uint64_t burnWork(const ImageReader& reader, const PlatformEntry& platform, bool verify) {
    std::uint64_t total = 0;
    for (const MemRange& range : platform.ranges) {
        if (range.kind == RangeKind::Ram) continue;
        std::uint32_t start = 0, size = 0, data = 0;
        reader.findRegion(range.start, range.size, start, size, &data);
        if (size == 0) continue;
        if (range.kind == RangeKind::Flash) total += size;
        total += std::uint64_t{data} * (verify ? 2 : 1);
    }
    return total;
}

namespace {

// The image loaded into a reader of its own, when it loads and fits a burn of the platform.
std::unique_ptr<ImageReader> loadFitting(ByteSource& image, PlId plID,
                                         const PlatformEntry& platform) {
    std::unique_ptr<ImageReader> reader = createImageReader(plID);
    image.seekFromStart(0);
    if (!reader || !reader->load(image, false) || !checkImageFit(*reader, platform, true).empty())
        return nullptr;
    return reader;
}

}  // namespace

std::uint64_t burnWork(ByteSource& image, PlId plID, const PlatformEntry& platform, bool verify) {
    const std::unique_ptr<ImageReader> reader = loadFitting(image, plID, platform);
    return reader ? burnWork(*reader, platform, verify) : 0;
}

std::uint64_t readWork(const std::vector<MemorySpan>& spans) {
    std::uint64_t total = 0;
    for (const MemorySpan& span : spans) total += span.length;
    return total;
}

std::uint64_t readWork(const std::vector<ByteSource*>& images, PlId plID,
                       const PlatformEntry& platform) {
    std::vector<MemorySpan> spans;
    for (ByteSource* image : images) {
        const std::unique_ptr<ImageReader> reader = loadFitting(*image, plID, platform);
        if (!reader) continue;
        const std::vector<MemorySpan> blocks = imageBlocks(*reader, platform);
        spans.insert(spans.end(), blocks.begin(), blocks.end());
    }
    return readWork(joinSpans(std::move(spans)));
}

void WorkCount::begin(std::uint64_t total) {
    clear();
    total_ = total;
}

void WorkCount::follow(const MemOp* operation) {
    if (operation_ != nullptr) banked_ += operation_->bytesDone();
    operation_ = operation;
}

std::uint64_t WorkCount::done() const {
    const std::uint64_t done = banked_ + (operation_ != nullptr ? operation_->bytesDone() : 0);
    return std::min(done, total_);
}

}  // namespace zq
