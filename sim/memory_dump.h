#pragma once

#include <filesystem>
#include <string>

#include "sim/target_module.h"

namespace zq::sim {

// Writes what a module's memory holds into `dir`: per range of its memory map with written
// bytes, one file from the first to the last byte written there (named by that first address,
// as "00010000.bin"; bytes in between that were never written read as the range's background),
// and "index.json" listing the files and the exact runs of written bytes, so that a test can
// compare them byte for byte with the image that was burned.
bool writeModuleDump(const TargetModule& module, const std::filesystem::path& dir,
                     std::string& error);

}  // namespace zq::sim
