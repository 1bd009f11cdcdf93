#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sparse_memory.h"

namespace zq::sim {

// What a range of a module's memory is, as the boot loader and the daemon treat it.
enum class RangeKind { Ram, Flash, Aux };

// "Ram", "Flash", "Aux", as the dump's index names them.
const char* rangeKindName(RangeKind kind);

// One range of a module's memory map, as the simulated hardware sees it.
struct MapRange {
    RangeKind kind = RangeKind::Ram;
    Span span;
};

using MemoryMap = std::vector<MapRange>;

// One board the simulator can play: what its boot loader reports, and its memory.
struct Board {
    std::uint32_t plID = 0;
    std::string name;
    MemoryMap map;
};

// The eight boards, from their hardware manuals rather than from the program's catalogue, so
// that a wrong map in the program meets a board that disagrees.
const std::vector<Board>& boards();

// The memory map of a board; empty for an identifier no board reports.
MemoryMap memoryMapFor(std::uint32_t plID);

// The range that holds the whole span, or nullptr when no single range does.
const MapRange* rangeHolding(const MemoryMap& map, Span span);

}  // namespace zq::sim
