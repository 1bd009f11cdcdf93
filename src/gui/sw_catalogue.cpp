#include "gui/sw_catalogue.h"

#include <cstdint>

#include "gui/ansi_text.h"
#include "os/file_sys.h"
#include "support/byte_source.h"
#include "support/fail.h"
#include "support/string_table.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr std::string_view kMagic = "#!KRVFlashRT19";

constexpr const char* kFileKeys[kUnitKindCount][kSideCount] = {
    {"qel", ""}, {"mub_a", "mub_b"}, {"vog_a", "vog_b"}, {"fut_a", "fut_b"}, {"kaj", ""},
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isIdentifierChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isIdentifier(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isIdentifierChar(c)) return false;
    return true;
}

std::string_view trimLeft(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    return text;
}

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLower(c);
    return out;
}

bool isComplete(const SwVersion& v) {
    if (v.name.empty()) return false;
    for (std::uint32_t unit = 0; unit < kUnitKindCount; ++unit)
        for (std::uint32_t side = 0; side < kSideCount; ++side)
            if (*kFileKeys[unit][side] != '\0' && v.files[unit][side].empty()) return false;
    return true;
}

// A name that holds a NUL cannot be a file name: the system would only see the part before
// it, and could find a different file.
bool imageFileExists(const std::string& name) {
    return name.find('\0') == std::string::npos && OFileSys::exists(fromUtf8(name));
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

const char* imageFileKey(std::uint32_t unit, std::uint32_t side) {
    if (unit >= kUnitKindCount || side >= kSideCount) return "";
    return kFileKeys[unit][side];
}

enum class LineKind { Section, Magic, DataVersion, Default, Name, File, Bad };

struct SwCatalogue::Classified {
    LineKind kind = LineKind::Bad;
    std::string value;
    std::string key;  // lower case, for File
    std::uint32_t unit = 0;
    std::uint32_t side = 0;
};

namespace {

LineKind classifyBracketsOrMagic(std::string_view line, std::string& value) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        std::string_view inner = trimRight(trimLeft(line.substr(1, line.size() - 2)));
        if (!isIdentifier(inner)) return LineKind::Bad;
        value = inner;
        return LineKind::Section;
    }
    return equalsIgnoringCase(line, kMagic) ? LineKind::Magic : LineKind::Bad;
}

}  // namespace

void SwCatalogue::reset() {
    *this = SwCatalogue();
}

bool SwCatalogue::failWith(std::string text) {
    errorText_ = std::move(text);
    return false;
}

SwCatalogue::LineRead SwCatalogue::readLine(ByteSource& source) {
    lineLength_ = 0;
    while (source.remaining() > 0) {
        char byte = 0;
        // A file that delivers less than its size promised has ended for us.
        if (!source.read(&byte, 1)) break;
        if (byte == '\n' || byte == '\r') {
            if (byte == '\r' && source.remaining() > 0) {
                char next = 0;
                if (source.read(&next, 1) && next != '\n') source.skipBackward(1);
            }
            if (lineLength_ > 0) break;
            continue;
        }
        if (lineLength_ == 0 && isBlank(byte)) continue;
        line_[lineLength_++] = byte;
        if (lineLength_ >= kMaxLineLength && source.remaining() > 0) return LineRead::TooLong;
    }
    while (lineLength_ > 0 && isBlank(line_[lineLength_ - 1])) --lineLength_;
    return lineLength_ > 0 ? LineRead::Line : LineRead::EndOfFile;
}

bool SwCatalogue::read(ByteSource& source) {
    reset();
    source.seekFromStart(0);
    for (;;) {
        LineRead result = readLine(source);
        if (result == LineRead::TooLong) return failWith(loadString(kStrLineTooLong));
        if (result == LineRead::EndOfFile) return finalChecks();
        if (!processLine(ansiToUtf8(std::string_view(line_.data(), lineLength_)))) return false;
    }
}

SwCatalogue::Classified SwCatalogue::classify(std::string_view line) {
    Classified c;
    // An "=" as the very first character does not make a key.
    std::size_t equals = line.find('=', 1);
    if (equals == std::string_view::npos) {
        c.kind = classifyBracketsOrMagic(line, c.value);
    } else {
        std::string key = lowerCase(trimRight(line.substr(0, equals)));
        std::string_view value = line.substr(equals + 1);
        if (key == "applswver") {
            value = trimRight(trimLeft(value));
            c.kind = value.empty() ? LineKind::Bad : LineKind::DataVersion;
        } else if (key == "defaultsw") {
            value = trimLeft(value);
            c.kind = isIdentifier(value) ? LineKind::Default : LineKind::Bad;
        } else if (key == "name") {
            value = trimLeft(value);
            c.kind = LineKind::Name;
        } else {
            for (std::uint32_t unit = 0; unit < kUnitKindCount; ++unit) {
                for (std::uint32_t side = 0; side < kSideCount; ++side) {
                    if (*kFileKeys[unit][side] != '\0' && key == kFileKeys[unit][side]) {
                        c.kind = LineKind::File;
                        c.unit = unit;
                        c.side = side;
                    }
                }
            }
        }
        c.value = value;
        c.key = std::move(key);
    }
    return c;
}

bool SwCatalogue::processLine(const std::string& line) {
    Classified c = classify(line);
    if (!magicSeen_) {
        // Anything but the magic line first is not a catalogue at all, so there is no reason
        // to give.
        if (c.kind != LineKind::Magic) return failWith("");
        magicSeen_ = true;
        return true;
    }
    if (!dataVersionSeen_ || !defaultSeen_) {
        if (c.kind == LineKind::Default && !defaultSeen_) {
            defaultId_ = c.value;
            defaultSeen_ = true;
        } else if (c.kind == LineKind::DataVersion && !dataVersionSeen_) {
            dataVersion_ = c.value;
            dataVersionSeen_ = true;
        } else {
            return failWith(formatString(kStrBadLine, line.c_str()));
        }
        return true;
    }
    if (inSection_) return processInSection(c, line);
    if (c.kind != LineKind::Section || count_ >= kMaxVersions)
        return failWith(formatString(kStrBadLine, line.c_str()));
    versions_.emplace_back();
    versions_.back().id = c.value;
    inSection_ = true;
    return true;
}

bool SwCatalogue::processInSection(const Classified& c, const std::string& line) {
    SwVersion& slot = versions_.back();
    if (c.kind == LineKind::Name) {
        if (!slot.name.empty()) return failWith(formatString(kStrTooManyNames, slot.id.c_str()));
        slot.name = c.value;
    } else if (c.kind == LineKind::File) {
        std::string& file = slot.files[c.unit][c.side];
        if (!file.empty()) return failWith(formatString(kStrDuplicateBinary, c.key.c_str()));
        file = c.value;
    } else {
        return failWith(formatString(kStrBadLine, line.c_str()));
    }
    // A section ends by itself once it holds a name and all eight files.
    if (isComplete(slot)) {
        ++count_;
        inSection_ = false;
    }
    return true;
}

bool SwCatalogue::finalChecks() {
    if (!magicSeen_ || !defaultSeen_ || inSection_) return failWith(loadString(kStrIniIncomplete));
    defaultIndex_ = findVersion(defaultId_);
    if (defaultIndex_ < 0) return failWith(formatString(kStrNoSwVersion, defaultId_.c_str()));
    for (std::uint32_t v = 0; v < count_; ++v) {
        for (std::uint32_t unit = 0; unit < kUnitKindCount; ++unit) {
            for (std::uint32_t side = 0; side < kSideCount; ++side) {
                if (*kFileKeys[unit][side] == '\0') continue;
                const std::string& name = versions_[v].files[unit][side];
                if (!imageFileExists(name)) {
                    defaultIndex_ = -1;
                    return failWith(formatString(kStrFileMissing, name.c_str()));
                }
            }
        }
    }
    return true;
}

std::int32_t SwCatalogue::findVersion(std::string_view id) const {
    for (std::uint32_t i = 0; i < count_; ++i)
        if (equalsIgnoringCase(versions_[i].id, id)) return static_cast<std::int32_t>(i);
    return -1;
}

const std::string& SwCatalogue::versionName(std::uint32_t index) const {
    if (!require(index < count_, "correct index")) return emptyText();
    return versions_[index].name;
}

const std::string& SwCatalogue::versionId(std::uint32_t index) const {
    if (!require(index < count_, "correct index")) return emptyText();
    return versions_[index].id;
}

const std::string& SwCatalogue::fileName(std::uint32_t version, std::uint32_t unit,
                                         std::uint32_t side) const {
    if (!require(version < count_, "correct index")) return emptyText();
    if (!require(unit < kUnitKindCount, "correct unit")) return emptyText();
    if (!require(side == 0 || (side == 1 && unitHasTwoSides(unit)), "correct side"))
        return emptyText();
    return versions_[version].files[unit][side];
}

}  // namespace zq
