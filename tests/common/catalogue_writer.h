#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"

namespace zq::testing {

// One [section] of config.ini with its name and the eight image-file lines.
std::string catalogueSection(const std::string& id, const std::string& name,
                             const std::string& filePrefix);
// The magic line, the header and the sections, lines ended by LF.
std::string catalogueText(const std::vector<std::string>& sections,
                          const std::string& defaultId = "SW31",
                          const std::string& dataVersion = "3.1");
// The eight image-file names that catalogueSection names for filePrefix.
std::vector<std::string> catalogueFiles(const std::string& filePrefix);

// Runs a test inside a fresh directory (image names in a catalogue resolve against the
// current directory) and goes back to where it was afterwards.
class InTempDirTest : public ContractTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Creates empty image files for every name that catalogueSection gives filePrefix.
    void writeImages(const std::string& filePrefix, const std::string& under = ".") const;

    TempDir dir;

private:
    std::filesystem::path saved_;
};

}  // namespace zq::testing
