#include "engine/image_fit.h"

#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kDoesNotFit = "Block 0x%08X-0x%08X doesn't fit into device's memory map";
constexpr const char* kCrossesBoundary = "Block 0x%08X-0x%08X crosses a memory range boundary";
constexpr const char* kUnexpectedUse = "Unexpected use of memory range 0x%08X - 0x%08X";

constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 32;

std::uint64_t endOf(const FitRange& r) {
    return std::uint64_t{r.start} + r.size;
}

std::string blockText(const char* format, std::uint32_t start, std::uint32_t size) {
    return formatText(format, start, static_cast<std::uint32_t>(start + size - 1));
}

// Data that lie in a gap of the map, walking the ranges from the bottom of the address space.
std::string checkMemoryMapFit(const ImageReader& reader, std::span<const FitRange> ranges) {
    std::uint32_t cursor = 0, start = 0, size = 0;
    for (const FitRange& range : ranges) {
        if (!require(range.start >= cursor, "sorted memory map")) continue;
        if (range.start > cursor) {
            reader.findRegion(cursor, range.start - cursor, start, size, nullptr);
            if (size != 0) return blockText(kDoesNotFit, start, size);
        }
        cursor = range.start + range.size;
        // A range that reaches the top of the address space leaves nothing above it.
        if (cursor == 0) return {};
    }
    reader.findRegion(cursor, static_cast<std::uint32_t>(kAddressSpace - cursor), start, size,
                      nullptr);
    if (size != 0) return blockText(kDoesNotFit, start, size);
    return {};
}

bool insideSomeRange(std::span<const FitRange> ranges, std::uint32_t address) {
    for (const FitRange& r : ranges)
        if (address >= r.start && address < endOf(r)) return true;
    return false;
}

std::string checkBoundaries(const ImageReader& reader, std::span<const FitRange> ranges) {
    for (const FitRange& range : ranges) {
        for (std::uint64_t boundary : {std::uint64_t{range.start}, endOf(range)}) {
            if (boundary == 0 || boundary >= kAddressSpace) continue;
            const auto b = static_cast<std::uint32_t>(boundary);
            std::uint32_t start = 0, size = 0;
            if (!reader.findBlockAcross(b, start, size)) continue;
            const bool betweenRanges = insideSomeRange(ranges, b - 1) && insideSomeRange(ranges, b);
            return blockText(betweenRanges ? kCrossesBoundary : kDoesNotFit, start, size);
        }
    }
    return {};
}

std::string checkRangeKinds(const ImageReader& reader, std::span<const FitRange> ranges) {
    for (const FitRange& range : ranges) {
        if (range.visited) continue;
        std::uint32_t start = 0, size = 0;
        reader.findRegion(range.start, range.size, start, size, nullptr);
        if (size != 0) return blockText(kUnexpectedUse, range.start, range.size);
    }
    return {};
}

}  // namespace

std::string checkImageFit(const ImageReader& reader, std::span<const FitRange> ranges) {
    std::string error = checkMemoryMapFit(reader, ranges);
    if (error.empty()) error = checkBoundaries(reader, ranges);
    if (error.empty()) error = checkRangeKinds(reader, ranges);
    return error;
}

std::vector<FitRange> fitRanges(const PlatformEntry& platform, bool flashRanges) {
    std::vector<FitRange> ranges;
    ranges.reserve(platform.ranges.size());
    for (const MemRange& r : platform.ranges)
        ranges.push_back({r.start, r.size, (r.kind == RangeKind::Ram) != flashRanges});
    return ranges;
}

std::string checkImageFit(const ImageReader& reader, const PlatformEntry& platform,
                          bool flashRanges) {
    return checkImageFit(reader, fitRanges(platform, flashRanges));
}

}  // namespace zq
