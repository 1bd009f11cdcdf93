#include "sim/sparse_memory.h"

#include <algorithm>
#include <iterator>

namespace zq::sim {

void SpanSet::add(Span span) {
    if (span.length == 0) return;
    Address start = span.start;
    Address end = span.end();
    auto it = ends_.upper_bound(start);
    if (it != ends_.begin()) {
        auto before = std::prev(it);
        if (before->second >= start) it = before;
    }
    while (it != ends_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        it = ends_.erase(it);
    }
    ends_.emplace(start, end);
}

void SpanSet::remove(Span span) {
    if (span.length == 0) return;
    Address start = span.start;
    Address end = span.end();
    auto it = ends_.upper_bound(start);
    if (it != ends_.begin()) --it;
    while (it != ends_.end() && it->first < end) {
        Address itStart = it->first;
        Address itEnd = it->second;
        if (itEnd <= start) {
            ++it;
            continue;
        }
        it = ends_.erase(it);
        if (itStart < start) ends_.emplace(itStart, start);
        if (itEnd > end) ends_.emplace(end, itEnd);
    }
}

bool SpanSet::contains(Address address) const {
    auto it = ends_.upper_bound(address);
    if (it == ends_.begin()) return false;
    --it;
    return address < it->second;
}

bool SpanSet::containsAll(Span span) const {
    if (span.length == 0) return true;
    auto it = ends_.upper_bound(span.start);
    if (it == ends_.begin()) return false;
    --it;
    return span.end() <= it->second;
}

void SparseMemory::write(Address address, const std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length;) {
        Address at = address + i;
        Address pageStart = at - at % kPageSize;
        auto offset = static_cast<std::size_t>(at - pageStart);
        std::size_t n = std::min(length - i, static_cast<std::size_t>(kPageSize) - offset);
        Page& page = pages_[pageStart];
        std::copy(data + i, data + i + n, page.data.begin() + static_cast<long>(offset));
        for (std::size_t k = 0; k < n; ++k) page.written.set(offset + k);
        i += n;
    }
}

void SparseMemory::forget(Span span) {
    if (span.length == 0) return;
    Address first = span.start - span.start % kPageSize;
    for (auto it = pages_.lower_bound(first); it != pages_.end() && it->first < span.end();) {
        Page& page = it->second;
        Address from = std::max(span.start, it->first);
        Address to = std::min(span.end(), it->first + kPageSize);
        for (Address a = from; a < to; ++a)
            page.written.reset(static_cast<std::size_t>(a - it->first));
        it = page.written.none() ? pages_.erase(it) : std::next(it);
    }
}

void SparseMemory::forgetAll() {
    pages_.clear();
}

bool SparseMemory::isWritten(Address address) const {
    auto it = pages_.find(address - address % kPageSize);
    return it != pages_.end() &&
           it->second.written.test(static_cast<std::size_t>(address % kPageSize));
}

std::uint8_t SparseMemory::read(Address address, std::uint8_t background) const {
    auto it = pages_.find(address - address % kPageSize);
    if (it == pages_.end()) return background;
    auto offset = static_cast<std::size_t>(address % kPageSize);
    return it->second.written.test(offset) ? it->second.data[offset] : background;
}

void SparseMemory::read(Address address, std::uint8_t* out, std::size_t length,
                        std::uint8_t background) const {
    for (std::size_t i = 0; i < length; ++i) out[i] = read(address + i, background);
}

std::vector<Span> SparseMemory::writtenRuns(Span within) const {
    std::vector<Span> runs;
    if (within.length == 0) return runs;
    Address first = within.start - within.start % kPageSize;
    for (auto it = pages_.lower_bound(first); it != pages_.end() && it->first < within.end();
         ++it) {
        Address from = std::max(within.start, it->first);
        Address to = std::min(within.end(), it->first + kPageSize);
        for (Address a = from; a < to; ++a) {
            if (!it->second.written.test(static_cast<std::size_t>(a - it->first))) continue;
            if (!runs.empty() && runs.back().end() == a)
                ++runs.back().length;
            else
                runs.push_back({a, 1});
        }
    }
    return runs;
}

}  // namespace zq::sim
