#include "image/ppc_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace zq::testing {

const PpcImage& ppcImage(std::string_view name) {
    for (const PpcImage& image : ppcImages())
        if (image.name == name) return image;
    ADD_FAILURE() << "no PowerPC test image " << name;
    static const PpcImage none;
    return none;
}

namespace {

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::uint32_t hex(const std::string& s) {
    return static_cast<std::uint32_t>(std::stoul(s, nullptr, 16));
}

bool isSectionType(const std::string& w) {
    return !w.empty() && std::all_of(w.begin(), w.end(),
                                     [](char c) { return (c >= 'A' && c <= 'Z') || c == '_'; });
}

// "  [ 3] .rodata  PROGBITS  ff8004f0 0024f0 000016 00   A  0   0  1"; the name and the flags
// may be empty.
bool parseSection(const std::string& line, ReadelfView::Section& s) {
    std::size_t open = line.find('['), close = line.find(']');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    std::string number = line.substr(open + 1, close - open - 1);
    if (number.find_first_not_of(" 0123456789") != std::string::npos) return false;
    std::vector<std::string> w = words(line.substr(close + 1));
    if (w.size() < 8) return false;
    std::size_t i = 0;
    s.index = static_cast<std::uint32_t>(std::stoul(number));
    s.name = isSectionType(w[0]) && w.size() < 10 ? "" : w[i++];
    s.type = w[i++];
    s.addr = hex(w[i++]);
    s.offset = hex(w[i++]);
    s.size = hex(w[i++]);
    ++i;  // entry size
    s.flags = w.size() - i == 4 ? w[i] : "";
    return true;
}

}  // namespace

ReadelfView parseReadelf(const std::string& text) {
    ReadelfView view;
    std::istringstream in(text);
    enum { None, Sections, Symbols } part = None;
    for (std::string line; std::getline(in, line);) {
        if (line.find("Flags:") != std::string::npos && part == None) {
            view.flags = line.substr(line.find(':') + 1);
            view.flags.erase(0, view.flags.find_first_not_of(' '));
        }
        if (line.rfind("Section Headers:", 0) == 0) part = Sections;
        if (line.rfind("Key to Flags:", 0) == 0) part = None;
        if (line.rfind("Symbol table", 0) == 0) part = Symbols;
        ReadelfView::Section s;
        if (part == Sections && parseSection(line, s)) view.sections.push_back(s);
        std::vector<std::string> w = words(line);
        if (part == Symbols && w.size() == 8 && w[0].back() == ':' &&
            std::isdigit(static_cast<unsigned char>(w[0][0])))
            view.symbols.push_back({w[7], hex(w[1])});
    }
    return view;
}

std::vector<ReadelfView::Section> ReadelfView::loadable() const {
    std::vector<Section> out;
    for (const Section& s : sections)
        if (s.type == "PROGBITS" && s.flags.find('A') != std::string::npos && s.size != 0)
            out.push_back(s);
    return out;
}

const ReadelfView::Symbol* ReadelfView::symbol(std::string_view name) const {
    for (const Symbol& s : symbols)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace zq::testing
