#pragma once

#include <string>

namespace zq {

class SwCatalogue;

inline constexpr const char* kBinariesDirectory = "RT19_bin";
inline constexpr const char* kCatalogueFileName = "config.ini";

// The start-up's reading of the catalogue, shared by the front-ends: makes "RT19_bin" (below
// the current directory) the current directory, opens "config.ini" there and reads it.
// On failure the operator's message is left in `message` (kStrNoDirectory, kStrCannotOpenFile
// or kStrBadFileFormat with the catalogue's reason) for the front-end to show its own way, and
// the start must not go on.
bool readStartupCatalogue(SwCatalogue& catalogue, std::string& message);

}  // namespace zq
