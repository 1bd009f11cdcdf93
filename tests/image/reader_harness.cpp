#include "image/reader_harness.h"

#include <cstdio>

#include <gtest/gtest.h>

namespace zq::testing {

void PrintTo(const Region& r, std::ostream* os) {
    char text[80];
    std::snprintf(text, sizeof text, "{start 0x%08X, size %u, data %u}", r.start, r.size,
                  r.dataSize);
    *os << text;
}

void PrintTo(const Piece& p, std::ostream* os) {
    char text[64];
    std::snprintf(text, sizeof text, "{0x%08X, %zu bytes}", p.address, p.bytes.size());
    *os << text;
}

bool ReaderHarness::load(std::string file, bool requireEntry) {
    file_ = std::move(file);
    source_ = std::make_unique<MemSource>(MemPtr(reinterpret_cast<std::uint8_t*>(file_.data()),
                                                 static_cast<std::uint32_t>(file_.size())));
    return reader_->load(*source_, requireEntry);
}

void ReaderHarness::expectRefused(std::string file, const std::string& message, bool requireEntry) {
    EXPECT_FALSE(load(std::move(file), requireEntry)) << message;
    EXPECT_EQ(errorText(), message);
    EXPECT_EQ(region(0, 0xFFFFFFFF), (Region{0, 0, 0})) << "a refused file has no data";
}

Region ReaderHarness::region(std::uint32_t address, std::uint32_t length) const {
    Region r{};
    reader_->findRegion(address, length, r.start, r.size, &r.dataSize);
    return r;
}

std::vector<Piece> ReaderHarness::read(std::uint32_t address, std::uint32_t length,
                                       std::uint32_t maxLength) {
    std::vector<Piece> pieces;
    reader_->beginRead(address, length);
    std::string buffer(maxLength, '\0');
    for (;;) {
        std::uint32_t at = 0xDEADBEEF, n = 0xDEADBEEF;
        reader_->readNext(reinterpret_cast<std::uint8_t*>(buffer.data()), maxLength, at, n);
        if (n == 0) {
            EXPECT_EQ(at, 0u) << "the end of a read names address 0";
            break;
        }
        if (n > maxLength || pieces.size() > 100000) {
            ADD_FAILURE() << "readNext delivered " << n << " bytes, at most " << maxLength;
            break;
        }
        pieces.push_back({at, buffer.substr(0, n)});
    }
    return pieces;
}

std::vector<std::uint32_t> ReaderHarness::pieceSizes(std::uint32_t address, std::uint32_t length,
                                                     std::uint32_t maxLength) {
    std::vector<std::uint32_t> sizes;
    for (const Piece& p : read(address, length, maxLength))
        sizes.push_back(static_cast<std::uint32_t>(p.bytes.size()));
    return sizes;
}

}  // namespace zq::testing
