#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <vector>

namespace zq::sim {

// Addresses are kept 64-bit wide inside the simulator so that a range reaching the top of the
// 32-bit space (0xFFF40000 + 0xC0000) has an end that does not wrap to 0.
using Address = std::uint64_t;

// A run of bytes [start, start + length).
struct Span {
    Address start = 0;
    Address length = 0;
    Address end() const { return start + length; }
    bool operator==(const Span&) const = default;
};

// A set of disjoint, sorted address intervals.
class SpanSet {
public:
    void add(Span span);
    void remove(Span span);
    bool contains(Address address) const;
    bool containsAll(Span span) const;
    const std::map<Address, Address>& intervals() const { return ends_; }

private:
    std::map<Address, Address> ends_;  // start -> end
};

// The memory of one target module. Nothing costs anything until it is written: pages of 4 KiB
// appear on the first write, and erased flash is an interval, not bytes, so a 31 MiB erase of a
// large flash bank is one map entry.
class SparseMemory {
public:
    static constexpr Address kPageSize = 4096;

    // Bytes last written, and where.
    void write(Address address, const std::uint8_t* data, std::size_t length);
    // Forgets what was written in the span (a power cycle of RAM, the erase of flash).
    void forget(Span span);
    void forgetAll();

    bool isWritten(Address address) const;
    // The written byte, or `background` where nothing was written.
    std::uint8_t read(Address address, std::uint8_t background) const;
    void read(Address address, std::uint8_t* out, std::size_t length,
              std::uint8_t background) const;

    // Maximal runs of written bytes inside the span, in address order.
    std::vector<Span> writtenRuns(Span within) const;
    bool empty() const { return pages_.empty(); }

private:
    struct Page {
        std::array<std::uint8_t, kPageSize> data{};
        std::bitset<kPageSize> written;
    };
    std::map<Address, Page> pages_;  // by page start
};

}  // namespace zq::sim
