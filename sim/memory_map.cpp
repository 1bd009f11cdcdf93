#include "sim/memory_map.h"

namespace zq::sim {

MemoryMap memoryMapFor(std::uint32_t plID) {
    static const PlatformList catalogue;
    MemoryMap map;
    if (const PlatformEntry* entry = catalogue.find(plID))
        for (const MemRange& range : entry->ranges)
            map.push_back({range.kind, Span{range.start, range.size}});
    return map;
}

const MapRange* rangeHolding(const MemoryMap& map, Span span) {
    for (const MapRange& range : map)
        if (span.start >= range.span.start && span.start < range.span.end() &&
            span.end() <= range.span.end())
            return &range;
    return nullptr;
}

}  // namespace zq::sim
