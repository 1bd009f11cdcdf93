#pragma once

#include <filesystem>
#include <string>

namespace zq {

class SwCatalogue;

inline constexpr const char* kBinariesDirectory = "RT19_bin";
inline constexpr const char* kCatalogueFileName = "config.ini";

// The start-up's reading of the catalogue, shared by the front-ends: makes "RT19_bin" the
// current directory, the one below the current directory or else the one beside the program
// (programDirectory, when not empty), opens "config.ini" there and reads it. A shortcut or a
// Start-menu entry without "Start in", and a desktop's menu, start the program in a folder of
// their own choosing; the installation's folder is where the operator put RT19_bin.
// On failure the operator's message is left in `message` (kStrNoDirectory with every place
// tried, kStrCannotOpenFile or kStrBadFileFormat with the catalogue's reason) for the
// front-end to show its own way, and the start must not go on.
bool readStartupCatalogue(SwCatalogue& catalogue, std::string& message,
                          const std::filesystem::path& programDirectory = {});

}  // namespace zq
