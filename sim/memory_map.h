#pragma once

#include <cstdint>
#include <vector>

#include "engine/platform_list.h"
#include "sim/sparse_memory.h"

namespace zq::sim {

// One range of a module's memory map, as the simulated hardware sees it.
struct MapRange {
    RangeKind kind = RangeKind::Ram;
    Span span;
};

using MemoryMap = std::vector<MapRange>;

// The memory map of a platform from the program's own device catalogue, so that the simulated
// modules and the program always agree on it; empty for an identifier the catalogue lacks.
MemoryMap memoryMapFor(std::uint32_t plID);

// The range that holds the whole span, or nullptr when no single range does.
const MapRange* rangeHolding(const MemoryMap& map, Span span);

}  // namespace zq::sim
