#include "image/elf_writer.h"

namespace zq::testing {

namespace {

void putBe(std::string& out, std::uint32_t v, int width = 4) {
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(v >> shift));
}

std::uint32_t addName(std::string& table, const std::string& name) {
    auto offset = static_cast<std::uint32_t>(table.size());
    table += name;
    table.push_back('\0');
    return offset;
}

struct Header {
    std::uint32_t name, type, flags, addr, offset, size, link, info, align, entsize;
};

}  // namespace

ElfWriter& ElfWriter::text(std::string name, std::uint32_t addr, std::string data) {
    return section({std::move(name), kProgBits, kAlloc | kExec, addr, std::move(data), 0});
}

ElfWriter& ElfWriter::bss(std::string name, std::uint32_t addr, std::uint32_t size) {
    return section({std::move(name), kNoBits, kAlloc, addr, {}, size});
}

ElfWriter& ElfWriter::section(Section s) {
    sections_.push_back(std::move(s));
    return *this;
}

ElfWriter& ElfWriter::symbol(std::string name, std::uint32_t value) {
    symbols_.emplace_back(std::move(name), value);
    return *this;
}

std::uint32_t ElfWriter::symtabIndex() const {
    return static_cast<std::uint32_t>(sections_.size()) + 1;
}
std::uint32_t ElfWriter::strtabIndex() const {
    return symtabIndex() + (withSymtab ? 1 : 0);
}
std::uint32_t ElfWriter::shstrtabIndex() const {
    return strtabIndex() + (withStrtab ? 1 : 0);
}

std::string ElfWriter::build() const {
    std::string shstrtab(1, '\0');
    std::string strtab(1, '\0');
    std::string body;  // everything after the 52-byte header
    std::vector<Header> headers{{}};
    auto place = [&](const std::string& data) {
        auto offset = static_cast<std::uint32_t>(52 + body.size());
        body += data;
        return offset;
    };
    for (const Section& s : sections_) {
        Header h{addName(shstrtab, s.name), s.type, s.flags, s.addr, 0, 0, 0, 0, 1, 0};
        h.offset = place(s.data);
        h.size = s.type == kNoBits ? s.size : static_cast<std::uint32_t>(s.data.size());
        headers.push_back(h);
    }
    std::string symtab(16, '\0');
    for (const auto& [name, value] : symbols_) {
        putBe(symtab, addName(strtab, name));
        putBe(symtab, value);
        putBe(symtab, 0);
        symtab += std::string("\x10\x00\x00\x01", 4);  // global, default, section 1
    }
    // .symtab, .strtab and .shstrtab, each placed once its content is complete.
    auto table = [&](const char* name, std::uint32_t kind, const std::string& data,
                     std::uint32_t link, std::uint32_t info, std::uint32_t entsize) {
        Header h{addName(shstrtab, name),   kind,   0, 0, 0, 0, link, info,
                 kind == kSymTab ? 4u : 1u, entsize};
        h.offset = place(data);
        h.size = static_cast<std::uint32_t>(data.size());
        headers.push_back(h);
    };
    if (withSymtab) table(".symtab", kSymTab, symtab, strtabIndex(), 1, symtabEntsize);
    if (withStrtab) table(".strtab", kStrTab, strtab, 0, 0, 0);
    table(".shstrtab", kStrTab, shstrtab, 0, 0, 0);  // holds its own name: placed after it

    std::string out{'\x7F', 'E', 'L', 'F', 1, 2, 1};  // 32 bits, big-endian, version 1
    out.resize(16, '\0');
    putBe(out, type, 2);
    putBe(out, machine, 2);
    putBe(out, 1);                                             // e_version
    putBe(out, 0);                                             // e_entry
    putBe(out, 52);                                            // e_phoff (no program headers)
    putBe(out, static_cast<std::uint32_t>(52 + body.size()));  // e_shoff
    putBe(out, flags);
    const auto count = static_cast<std::uint32_t>(headers.size());
    // e_ehsize, e_phentsize, e_phnum, e_shentsize, e_shnum, e_shstrndx
    for (std::uint32_t v : {52u, 32u, 0u, 40u, count, count - 1}) putBe(out, v, 2);
    out += body;
    for (const Header& h : headers)
        for (std::uint32_t v : {h.name, h.type, h.flags, h.addr, h.offset, h.size, h.link, h.info,
                                h.align, h.entsize})
            putBe(out, v);
    return out;
}

std::uint32_t getU32Be(const std::string& file, std::size_t offset) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<std::uint8_t>(file.at(offset + i));
    return v;
}

void setBe(std::string& file, std::size_t offset, std::uint32_t value, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        file.at(offset + i) = static_cast<char>(value >> (8 * (width - 1 - i)));
}

static std::size_t sectionFieldOffset(const std::string& elf, std::uint32_t index, ShField field) {
    return getU32Be(elf, 32) + std::size_t{index} * 40 + static_cast<std::uint32_t>(field) * 4;
}

std::uint32_t getSectionField(const std::string& elf, std::uint32_t index, ShField field) {
    return getU32Be(elf, sectionFieldOffset(elf, index, field));
}

void setSectionField(std::string& elf, std::uint32_t index, ShField field, std::uint32_t value) {
    setBe(elf, sectionFieldOffset(elf, index, field), value);
}

std::size_t symbolOffset(const std::string& elf, std::uint32_t symtabIndex, std::uint32_t index) {
    return getSectionField(elf, symtabIndex, ShField::Offset) + std::size_t{index} * 16;
}

std::string pattern(std::size_t n, std::uint8_t first) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i * 7 + (i >> 8));
    return s;
}

}  // namespace zq::testing
