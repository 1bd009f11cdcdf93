#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zq::testing {

// An executable built by GNU binutils for PowerPC from tests/image/ppc: what the real toolchain
// writes, where the tests' own ELF writer might share the reader's assumptions.
struct PpcImage {
    std::string name;
    std::string elf;
};

const std::vector<PpcImage>& ppcImages();
// The image of that name; an empty one (and a test failure) when there is none.
const PpcImage& ppcImage(std::string_view name);

}  // namespace zq::testing
