#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq {

// The platform identifier a target reports at CONNECT. Its top four bits are the processor
// family; the low 28 bits name the board variant.
using PlId = std::uint32_t;

inline constexpr PlId kFamilyMask = 0xF0000000u;
inline constexpr PlId kFamilyXc167 = 0x10000000u;
inline constexpr PlId kFamilyMpc8270 = 0x20000000u;
inline constexpr PlId kFamilyMpc5554 = 0x30000000u;

inline constexpr PlId familyOf(PlId plID) {
    return plID & kFamilyMask;
}

enum class RangeKind : std::uint32_t {
    Ram = 0,    // takes the L2 daemon and nothing else
    Flash = 1,  // erased and written by a burn
    Aux = 2,    // written by a burn without an erase
};

// "Ram", "Flash", "Aux"; "?" for a value outside the set.
const char* rangeKindName(RangeKind kind);

struct MemRange {
    RangeKind kind;
    std::uint32_t start;
    std::uint32_t size;
    std::uint32_t eraseTimeoutMs;  // 0 for ranges that are never erased
    std::uint32_t writeTimeoutMs;

    // The last address inside the range. An exclusive end would not fit 32 bits for ranges
    // that reach the top of the address space (0xFFF40000 + 0x000C0000).
    std::uint32_t last() const { return start + (size - 1); }
    // True when the length bytes from address lie wholly inside the range (0 counts as 1).
    bool contains(std::uint32_t address, std::uint32_t length = 1) const;

    bool operator==(const MemRange&) const = default;
};

struct PlatformEntry {
    PlId plID;
    std::string name;
    std::vector<MemRange> ranges;  // ascending addresses, no overlaps
};

// The device catalogue: the eight platforms the tool knows, in table order, and the one the
// engine selected at the L1 connect.
class PlatformList {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr const char* kUnknownName = "UNKNOWN DEVICE";

    PlatformList();

    std::size_t count() const { return entries_.size(); }
    // Entry i in table order; requires i < count() ("correct index").
    const PlatformEntry& entry(std::size_t index) const;
    const std::vector<PlatformEntry>& entries() const { return entries_; }

    // Exact match of the identifier only: a known family with an unknown variant is refused,
    // and a refusal leaves the current entry as it was.
    bool select(PlId plID);
    // Requires that an entry was selected ("PL set"); otherwise an empty unknown entry.
    const PlatformEntry& current() const;
    bool hasCurrent() const { return current_ != kNone; }
    std::size_t currentIndex() const { return current_; }

    // nullptr when the identifier is not in the table.
    const PlatformEntry* find(PlId plID) const;
    // The display name, "UNKNOWN DEVICE" when the identifier is not in the table.
    const char* nameOf(PlId plID) const;

private:
    std::vector<PlatformEntry> entries_;
    std::size_t current_ = kNone;
};

}  // namespace zq
