#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zq::testing {

// An executable built by GNU binutils for PowerPC from tests/image/ppc, with the text of
// `readelf -h -S -s -W` for it: the oracle that the reader's view is checked against.
struct PpcImage {
    std::string name;
    std::string elf;
    std::string readelf;
};

const std::vector<PpcImage>& ppcImages();
// The image of that name; an empty one (and a test failure) when there is none.
const PpcImage& ppcImage(std::string_view name);

// What readelf says about a file.
struct ReadelfView {
    struct Section {
        std::uint32_t index;
        std::string name;
        std::string type;
        std::uint32_t addr, offset, size;
        std::string flags;
    };
    struct Symbol {
        std::string name;
        std::uint32_t value;
    };
    std::string flags;  // the header's "Flags:" line
    std::vector<Section> sections;
    std::vector<Symbol> symbols;

    // Sections that a loader puts into memory: PROGBITS with the A flag and bytes.
    std::vector<Section> loadable() const;
    const Symbol* symbol(std::string_view name) const;
};

ReadelfView parseReadelf(const std::string& text);

}  // namespace zq::testing
