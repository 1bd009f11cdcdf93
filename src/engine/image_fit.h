#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/platform_list.h"
#include "image/image_reader.h"

namespace zq {

// One range of a memory map as the image checks see it: where it lies, and whether the
// operation at hand writes it (a flash burn writes Flash and Aux ranges, a daemon upload Ram).
struct FitRange {
    std::uint32_t start;
    std::uint32_t size;
    bool visited;
};

// The checks a memory operation makes on a loaded image before it sends any command, in this
// order; the first refusal ends them. Ranges in ascending address order, without overlaps.
//  1. Memory-map fit: no data in a gap between ranges or above the last one
//     ("Block 0x%08X-0x%08X doesn't fit into device's memory map", the data found in the gap).
//  2. Boundaries: no block of data (section, record) may cross the start or end of a range.
//     Such a block lies wholly inside no range, so no range's block would carry it and it
//     would silently never be written: across two adjacent ranges it is refused with
//     "Block 0x%08X-0x%08X crosses a memory range boundary", across the edge of the map with
//     the fit message, both naming the block's first and last byte.
//  3. Wrong kind: no data in a range that the operation does not write
//     ("Unexpected use of memory range 0x%08X - 0x%08X", the whole range).
// Returns the error text of the first refusal, or an empty string when the image may go.
std::string checkImageFit(const ImageReader& reader, std::span<const FitRange> ranges);

// A platform's memory map as the checks see it for a flash burn (flashRanges: Flash and Aux
// ranges are written) or a daemon upload (Ram ranges are written).
std::vector<FitRange> fitRanges(const PlatformEntry& platform, bool flashRanges);

// checkImageFit over a platform's memory map.
std::string checkImageFit(const ImageReader& reader, const PlatformEntry& platform,
                          bool flashRanges);

}  // namespace zq
