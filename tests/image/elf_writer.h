#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zq::testing {

// Writes small big-endian PowerPC ELF executables for the reader's tests: a header, the
// sections given (in that order, after the null section), then .symtab, .strtab and
// .shstrtab, and the section table at the end. Fields can be changed afterwards with the
// patch helpers to make a file malformed in one place.
class ElfWriter {
public:
    static constexpr std::uint32_t kProgBits = 1;
    static constexpr std::uint32_t kSymTab = 2;
    static constexpr std::uint32_t kStrTab = 3;
    static constexpr std::uint32_t kNoBits = 8;
    static constexpr std::uint32_t kAlloc = 0x2;
    static constexpr std::uint32_t kExec = 0x4;

    struct Section {
        std::string name;
        std::uint32_t type;
        std::uint32_t flags;
        std::uint32_t addr;
        std::string data;
        std::uint32_t size;  // of a NOBITS section; others take their data's size
    };

    // Program data that the image allocates, at addr.
    ElfWriter& text(std::string name, std::uint32_t addr, std::string data);
    // A NOBITS section (.bss-like) of size bytes at addr.
    ElfWriter& bss(std::string name, std::uint32_t addr, std::uint32_t size);
    // Any section.
    ElfWriter& section(Section s);
    ElfWriter& symbol(std::string name, std::uint32_t value);

    // Header fields written as given.
    std::uint32_t flags = 0x80000000u;
    std::uint16_t type = 2;
    std::uint16_t machine = 20;
    std::uint32_t symtabEntsize = 16;
    bool withSymtab = true;
    bool withStrtab = true;

    std::string build() const;

    // Indexes in the built file's section table.
    std::uint32_t symtabIndex() const;
    std::uint32_t strtabIndex() const;
    std::uint32_t shstrtabIndex() const;

private:
    std::vector<Section> sections_;
    std::vector<std::pair<std::string, std::uint32_t>> symbols_;
};

// Section header fields by word: sh_name 0, sh_type 1, sh_flags 2, sh_addr 3, sh_offset 4,
// sh_size 5, sh_link 6, sh_info 7, sh_addralign 8, sh_entsize 9.
enum class ShField { Name, Type, Flags, Addr, Offset, Size, Link, Info, AddrAlign, EntSize };

std::uint32_t getU32Be(const std::string& file, std::size_t offset);
// Writes the low `width` bytes of value, most significant first.
void setBe(std::string& file, std::size_t offset, std::uint32_t value, std::size_t width = 4);
std::uint32_t getSectionField(const std::string& elf, std::uint32_t index, ShField field);
void setSectionField(std::string& elf, std::uint32_t index, ShField field, std::uint32_t value);
// Offset of symbol `index` (0 is the null symbol) inside the file.
std::size_t symbolOffset(const std::string& elf, std::uint32_t symtabIndex, std::uint32_t index);

// A string of n bytes counting up from `first`, so that misplaced bytes show.
std::string pattern(std::size_t n, std::uint8_t first = 0);

}  // namespace zq::testing
