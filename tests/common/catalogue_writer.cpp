#include "common/catalogue_writer.h"

namespace zq::testing {

namespace {
const char* const kKeys[] = {"qel", "mub_a", "mub_b", "vog_a", "vog_b", "fut_a", "fut_b", "kaj"};
}

std::vector<std::string> catalogueFiles(const std::string& filePrefix) {
    std::vector<std::string> names;
    for (const char* key : kKeys) names.push_back(filePrefix + "_" + key + ".bin");
    return names;
}

std::string catalogueSection(const std::string& id, const std::string& name,
                             const std::string& filePrefix) {
    std::string text = "[" + id + "]\nname=" + name + "\n";
    for (const char* key : kKeys)
        text += std::string(key) + "=" + filePrefix + "_" + key + ".bin\n";
    return text;
}

std::string catalogueText(const std::vector<std::string>& sections, const std::string& defaultId,
                          const std::string& dataVersion) {
    std::string text =
        "#!KRVFlashRT19\napplswver=" + dataVersion + "\ndefaultsw=" + defaultId + "\n";
    for (const std::string& s : sections) text += s;
    return text;
}

void InTempDirTest::SetUp() {
    ContractTest::SetUp();
    saved_ = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
}

void InTempDirTest::TearDown() {
    std::filesystem::current_path(saved_);
    ContractTest::TearDown();
}

void InTempDirTest::writeImages(const std::string& filePrefix, const std::string& under) const {
    std::filesystem::create_directories(dir.path() / under);
    for (const std::string& name : catalogueFiles(filePrefix)) dir.write(under + "/" + name, "x");
}

}  // namespace zq::testing
