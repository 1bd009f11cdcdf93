#include "engine/platform_list.h"

#include "support/fail.h"

namespace zq {

namespace {

constexpr std::uint32_t kWriteMs = 1000;
constexpr std::uint32_t kFlashEraseMs = 20000;

MemRange ram(std::uint32_t start, std::uint32_t size) {
    return {RangeKind::Ram, start, size, 0, kWriteMs};
}
MemRange flash(std::uint32_t start, std::uint32_t size, std::uint32_t eraseMs = kFlashEraseMs) {
    return {RangeKind::Flash, start, size, eraseMs, kWriteMs};
}
MemRange aux(std::uint32_t start, std::uint32_t size) {
    return {RangeKind::Aux, start, size, 0, kWriteMs};
}

std::vector<MemRange> qb5Map() {
    return {
        flash(0x00010000, 0x000F0000), flash(0x00100000, 0x00100000), ram(0x00400000, 0x00280000),
        flash(0x00C02000, 0x0003E000), aux(0x00D00000, 0x00010000),   aux(0x00D40000, 0x00010000),
        aux(0x00D50000, 0x00010000),   ram(0x00E00000, 0x00001800),
    };
}

std::vector<MemRange> krmbMap() {
    return {
        ram(0x00100000, 0x00080000),
        flash(0x00A00000, 0x00100000),
        flash(0x00C02000, 0x0003E000),
        ram(0x00E00000, 0x00001800),
    };
}

// The CM61/CM62 variants differ only in the size of the large flash. It always ends at
// 0xFFF00000, so the 256 KiB up to 0xFFF3FFFF lie outside the map and are never written.
std::vector<MemRange> cm6xMap(std::uint32_t flashStart, std::uint32_t flashSize) {
    return {
        ram(0x00000000, 0x08000000),          aux(0x80500000, 0x00010000),
        aux(0x80540000, 0x00010000),          aux(0x80550000, 0x00010000),
        flash(flashStart, flashSize, 200000), flash(0xFFF40000, 0x000C0000, 10000),
    };
}

std::vector<MemRange> krmcMap() {
    return {
        flash(0x00004000, 0x001FC000), ram(0x20000000, 0x00200000), ram(0x40000000, 0x00010000),
        aux(0x80500000, 0x00010000),   aux(0x80540000, 0x00010000), aux(0x80550000, 0x00010000),
    };
}

const PlatformEntry& unknownEntry() {
    static const PlatformEntry entry{0, PlatformList::kUnknownName, {}};
    return entry;
}

}  // namespace

const char* rangeKindName(RangeKind kind) {
    switch (kind) {
        case RangeKind::Ram:
            return "Ram";
        case RangeKind::Flash:
            return "Flash";
        case RangeKind::Aux:
            return "Aux";
    }
    return "?";
}

bool MemRange::contains(std::uint32_t address, std::uint32_t length) const {
    if (size == 0 || address < start) return false;
    std::uint64_t offset = address - start;
    std::uint64_t need = length == 0 ? 1 : length;
    return offset + need <= size;
}

PlatformList::PlatformList()
    : entries_{
          {0x10000001, "XC167 @ QB5 + dualBridge (AMD)", qb5Map()},
          {0x10000002, "XC167 @ QB5 + dualBridge (Micron)", qb5Map()},
          {0x10000100, "XC167 @ KRMB (AMD)", krmbMap()},
          {0x10000200, "XC167 @ KRMB (Micron)", krmbMap()},
          {0x20000003, "MPC8270 @ CM61/CM62 (8MB FLASH)", cm6xMap(0xFF800000, 0x00700000)},
          {0x20000001, "MPC8270 @ CM61/CM62 (16MB FLASH)", cm6xMap(0xFF000000, 0x00F00000)},
          {0x20000002, "MPC8270 @ CM61/CM62 (32MB FLASH)", cm6xMap(0xFE000000, 0x01F00000)},
          {0x30000001, "MPC5554 @ KRMC", krmcMap()},
      } {}

const PlatformEntry& PlatformList::entry(std::size_t index) const {
    if (!require(index < entries_.size(), "correct index")) return unknownEntry();
    return entries_[index];
}

bool PlatformList::select(PlId plID) {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].plID == plID) {
            current_ = i;
            return true;
        }
    }
    return false;
}

const PlatformEntry& PlatformList::current() const {
    if (!require(current_ != kNone, "PL set")) return unknownEntry();
    return entries_[current_];
}

const PlatformEntry* PlatformList::find(PlId plID) const {
    for (const PlatformEntry& e : entries_) {
        if (e.plID == plID) return &e;
    }
    return nullptr;
}

const char* PlatformList::nameOf(PlId plID) const {
    const PlatformEntry* e = find(plID);
    return e ? e->name.c_str() : kUnknownName;
}

}  // namespace zq
