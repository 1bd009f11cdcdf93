#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/platform_list.h"

namespace zq {

// A file carried inside the program: the build turns it into a byte array (cmake/embed_files).
struct EmbeddedFile {
    const char* name;
    const std::uint8_t* data;
    std::uint32_t size;
};

// The files of src/engine/daemons, in the order of daemonImages().
extern const EmbeddedFile kDaemonImageFiles[4];

// One built-in L2 daemon: the flash server that the engine uploads into a board's RAM at every
// connect. One per board group; the format and entry symbol are those of the group's tool chain.
struct DaemonImage {
    const char* group;  // which boards it serves, for people
    const char* format;
    const char* entrySymbol;
    const EmbeddedFile& file;
};

inline constexpr std::size_t kDaemonImageCount = 4;
inline constexpr std::size_t kNoDaemon = static_cast<std::size_t>(-1);

// The XC167 daemons of the carrier boards (QB5) and of the module boards (KRMB), then the
// MPC8270 and the MPC5554 daemons.
const std::array<DaemonImage, kDaemonImageCount>& daemonImages();

// Which daemon serves a platform: XC167 variants 1 and 2 the first, 0x100 and 0x200 the second;
// any MPC8270 identifier the third, any MPC5554 identifier the fourth. Any other identifier is a
// REQUIRE failure ("daemon for plID") and gives kNoDaemon.
std::size_t daemonIndexFor(PlId plID);

}  // namespace zq
