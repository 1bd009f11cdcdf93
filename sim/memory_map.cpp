#include "sim/memory_map.h"

namespace zq::sim {

namespace {

constexpr RangeKind R = RangeKind::Ram, F = RangeKind::Flash, A = RangeKind::Aux;

// The XC167 carrier boards with the dual bridge.
MemoryMap qb5() {
    return {{F, {0x00010000, 0x000F0000}}, {F, {0x00100000, 0x00100000}},
            {R, {0x00400000, 0x00280000}}, {F, {0x00C02000, 0x0003E000}},
            {A, {0x00D00000, 0x00010000}}, {A, {0x00D40000, 0x00010000}},
            {A, {0x00D50000, 0x00010000}}, {R, {0x00E00000, 0x00001800}}};
}

// The XC167 module boards.
MemoryMap krmb() {
    return {{R, {0x00100000, 0x00080000}}, {F, {0x00A00000, 0x00100000}},
            {F, {0x00C02000, 0x0003E000}}, {R, {0x00E00000, 0x00001800}}};
}

// The MPC8270 boards differ in the flash below the boot sector, which ends at 0xFFF00000; the
// 256 KiB above it up to the boot flash are not decoded.
MemoryMap cm6x(std::uint32_t flashStart) {
    return {{R, {0x00000000, 0x08000000}},
            {A, {0x80500000, 0x00010000}},
            {A, {0x80540000, 0x00010000}},
            {A, {0x80550000, 0x00010000}},
            {F, {flashStart, 0xFFF00000 - std::uint64_t{flashStart}}},
            {F, {0xFFF40000, 0x000C0000}}};
}

MemoryMap krmc() {
    return {{F, {0x00004000, 0x001FC000}}, {R, {0x20000000, 0x00200000}},
            {R, {0x40000000, 0x00010000}}, {A, {0x80500000, 0x00010000}},
            {A, {0x80540000, 0x00010000}}, {A, {0x80550000, 0x00010000}}};
}

}  // namespace

const char* rangeKindName(RangeKind kind) {
    return kind == RangeKind::Ram ? "Ram" : kind == RangeKind::Flash ? "Flash" : "Aux";
}

const std::vector<Board>& boards() {
    static const std::vector<Board> all{
        {0x10000001, "XC167 @ QB5 + dualBridge (AMD)", qb5()},
        {0x10000002, "XC167 @ QB5 + dualBridge (Micron)", qb5()},
        {0x10000100, "XC167 @ KRMB (AMD)", krmb()},
        {0x10000200, "XC167 @ KRMB (Micron)", krmb()},
        {0x20000003, "MPC8270 @ CM61/CM62 (8MB FLASH)", cm6x(0xFF800000)},
        {0x20000001, "MPC8270 @ CM61/CM62 (16MB FLASH)", cm6x(0xFF000000)},
        {0x20000002, "MPC8270 @ CM61/CM62 (32MB FLASH)", cm6x(0xFE000000)},
        {0x30000001, "MPC5554 @ KRMC", krmc()},
    };
    return all;
}

MemoryMap memoryMapFor(std::uint32_t plID) {
    for (const Board& board : boards())
        if (board.plID == plID) return board.map;
    return {};
}

const MapRange* rangeHolding(const MemoryMap& map, Span span) {
    for (const MapRange& range : map)
        if (span.start >= range.span.start && span.start < range.span.end() &&
            span.end() <= range.span.end())
            return &range;
    return nullptr;
}

}  // namespace zq::sim
