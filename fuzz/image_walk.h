#pragma once

// What both image-reader fuzz targets do with an input: load it as an image to burn and as a
// daemon, then walk the address space with findRegion, beginRead/readNext and findBlockAcross
// the way the memory operation does, checking what the reader promises. A broken promise or
// any contract failure aborts, so libFuzzer keeps the input.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/image_fit.h"
#include "image/image_reader.h"
#include "support/fail.h"
#include "support/mem_ptr.h"
#include "support/mem_source.h"

namespace zq::fuzz {

class AbortingFailureHandler : public FailureHandler {
protected:
    void onFailure() override {
        std::fprintf(stderr, "contract failure: %s %s\n", failureKindName(kind()), text());
        std::abort();
    }
};

inline void check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// Reads the window the way a memory operation reads one range's block.
inline void readWindow(ImageReader& reader, std::uint32_t address, std::uint32_t length) {
    std::uint32_t start = 0, size = 0, data = 0;
    reader.findRegion(address, length, start, size, &data);
    if (size == 0) {
        check(start == 0 && data == 0, "an empty region is all zero");
        return;
    }
    const std::uint64_t limit = std::uint64_t{address} + length;
    check(start >= address && std::uint64_t{start} + size <= limit, "region inside the window");
    check(data > 0 && data <= size, "0 < dataSize <= size");

    static std::uint8_t buffer[496];
    reader.beginRead(start, size);
    std::uint64_t delivered = 0, next = start;
    for (;;) {
        std::uint32_t at = 0, n = 0;
        reader.readNext(buffer, sizeof buffer, at, n);
        if (n == 0) {
            check(at == 0, "the end names address 0");
            break;
        }
        check(n <= sizeof buffer, "pieces no longer than asked");
        check(at >= next, "pieces in address order, without repeats");
        check(std::uint64_t{at} + n <= std::uint64_t{start} + size, "pieces inside the region");
        next = std::uint64_t{at} + n;
        delivered += n;
    }
    check(delivered == data, "every byte of the region delivered once");
}

inline void walkImage(ImageReader& reader) {
    std::uint32_t start = 0, size = 0;
    reader.findRegion(0, 0xFFFFFFFFu, start, size, nullptr);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> windows = {
        {0, 0xFFFFFFFFu}, {0xFFFFFFFFu, 1}, {0x80000000u, 0x80000000u}};
    for (std::uint32_t slice = 0; slice < 16; ++slice) windows.push_back({slice << 28, 1u << 28});
    if (size != 0) {
        windows.push_back({start + 1, size - 1});
        windows.push_back({start, size / 2});
        windows.push_back({start + size / 2, size - size / 2});
    }
    for (auto [address, length] : windows) readWindow(reader, address, length);

    for (std::uint32_t boundary : {start + 1, start + size / 2, 0x00100000u, 0x80550000u}) {
        std::uint32_t s = 0, n = 0;
        if (reader.findBlockAcross(boundary, s, n))
            check(s < boundary && std::uint64_t{s} + n > boundary, "a block across the boundary");
    }

    // The checks of a flash burn and of a daemon upload on every platform's map.
    static const PlatformList platforms;
    for (const PlatformEntry& platform : platforms.entries())
        for (bool flashRanges : {true, false}) checkImageFit(reader, platform, flashRanges);
}

inline void fuzzReader(ImageReader& reader, const std::uint8_t* data, std::size_t size) {
    static AbortingFailureHandler handler;
    if (size > 0xFFFFFFFFu) return;
    MemPtr view(const_cast<std::uint8_t*>(data), static_cast<std::uint32_t>(size));
    for (bool requireEntry : {false, true}) {
        MemSource source(view);
        bool loaded = reader.load(source, requireEntry);
        if (!loaded) check(!reader.errorText().empty(), "a refusal has a message");
        if (loaded && requireEntry) check(reader.hasEntry(), "a required entry was found");
        walkImage(reader);
    }
}

}  // namespace zq::fuzz
