#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zq {

class ByteSource;

// Unit kinds 0..4 and the two sides of a two-module or two-processor unit.
inline constexpr std::uint32_t kUnitKindCount = 5;
inline constexpr std::uint32_t kSideCount = 2;

// True when unit kind `unit` has a side 1 (kinds 1, 2 and 3).
inline constexpr bool unitHasTwoSides(std::uint32_t unit) {
    return unit >= 1 && unit <= 3;
}

// The key of a version's image file in config.ini ("qel", "mub_a", ...); "" for a side that
// the unit kind does not have.
const char* imageFileKey(std::uint32_t unit, std::uint32_t side);

struct SwVersion {
    std::string name;  // shown in the version combo box
    std::string id;    // the section name
    std::array<std::array<std::string, kSideCount>, kUnitKindCount> files;
};

// The software versions of config.ini. The file is checked strictly: the first error refuses
// the whole catalogue, with a reason in errorText() (empty for a file that does not start
// with the magic line).
class SwCatalogue {
public:
    static constexpr std::uint32_t kMaxVersions = 64;
    // A line that reaches this length with more of the file to come is refused, so a line
    // holds at most 516 characters and only the file's last one 517; the buffer needs no more.
    static constexpr std::uint32_t kMaxLineLength = 517;

    // Reads the whole source; relative image names are checked against the current directory.
    bool read(ByteSource& source);

    std::uint32_t versionCount() const { return count_; }
    std::int32_t defaultIndex() const { return defaultIndex_; }
    const std::string& versionName(std::uint32_t index) const;
    const std::string& versionId(std::uint32_t index) const;
    const std::string& fileName(std::uint32_t version, std::uint32_t unit,
                                std::uint32_t side) const;
    const std::string& dataVersion() const { return dataVersion_; }
    const std::string& errorText() const { return errorText_; }

    // The first version whose section name equals id ignoring case, -1 when there is none.
    std::int32_t findVersion(std::string_view id) const;

private:
    enum class LineRead { Line, EndOfFile, TooLong };
    struct Classified;

    static Classified classify(std::string_view line);
    void reset();
    LineRead readLine(ByteSource& source);
    bool processLine(const std::string& line);
    bool processInSection(const Classified& c, const std::string& line);
    bool finalChecks();
    bool failWith(std::string text);

    std::string errorText_;
    std::vector<SwVersion> versions_;  // complete ones, then the one being filled
    std::uint32_t count_ = 0;
    std::int32_t defaultIndex_ = -1;
    std::array<char, 520> line_{};
    std::uint32_t lineLength_ = 0;
    bool magicSeen_ = false;
    bool dataVersionSeen_ = false;
    bool defaultSeen_ = false;
    bool inSection_ = false;
    std::string dataVersion_;
    std::string defaultId_;
};

}  // namespace zq
