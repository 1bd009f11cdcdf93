#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "image/image_reader.h"
#include "support/mem_source.h"

namespace zq::testing {

// What findRegion reports for one range.
struct Region {
    std::uint32_t start;
    std::uint32_t size;
    std::uint32_t dataSize;

    bool operator==(const Region&) const = default;
};
void PrintTo(const Region& r, std::ostream* os);

// One piece delivered by readNext.
struct Piece {
    std::uint32_t address;
    std::string bytes;

    bool operator==(const Piece&) const = default;
};
void PrintTo(const Piece& p, std::ostream* os);

// Holds an image file in memory and a reader loaded from it (the ELF reader reads its source
// on demand, so the bytes must outlive the reads).
class ReaderHarness {
public:
    explicit ReaderHarness(std::unique_ptr<ImageReader> reader) : reader_(std::move(reader)) {}

    bool load(std::string file, bool requireEntry = false);
    // Loads a file that must be refused with this message and leave no data behind.
    void expectRefused(std::string file, const std::string& message, bool requireEntry = false);
    ImageReader& reader() { return *reader_; }
    const std::string& errorText() const { return reader_->errorText(); }

    Region region(std::uint32_t address, std::uint32_t length) const;
    // beginRead(address, length), then readNext with maxLength until it delivers nothing.
    std::vector<Piece> read(std::uint32_t address, std::uint32_t length,
                            std::uint32_t maxLength = 496);
    // The sizes of the pieces of read().
    std::vector<std::uint32_t> pieceSizes(std::uint32_t address, std::uint32_t length,
                                          std::uint32_t maxLength = 496);

private:
    std::unique_ptr<ImageReader> reader_;
    std::string file_;
    std::unique_ptr<MemSource> source_;
};

}  // namespace zq::testing
