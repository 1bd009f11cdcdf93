#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "image/block_index.h"
#include "image/image_reader.h"

namespace zq {

// The one flavour of ELF the PowerPC boards take: 32-bit, big-endian, executable, PowerPC,
// embedded ABI. Reads the section table and the symbol table (never the program headers);
// section data are read from the source on demand, so the source must stay valid while the
// reader is used.
class ElfImageReader : public ImageReader {
public:
    // Elf32_Ehdr, every multi-byte field converted from big-endian.
    struct Header {
        std::uint8_t ident[16];
        std::uint16_t type, machine;
        std::uint32_t version, entry, phoff, shoff, flags;
        std::uint16_t ehsize, phentsize, phnum, shentsize, shnum, shstrndx;
    };
    // Elf32_Shdr and the section's name (a view into the section-name table).
    struct Section {
        std::uint32_t name, type, flags, addr, offset, size, link, info, addralign, entsize;
        std::string_view nameText;
    };
    // Elf32_Sym and the symbol's name (a view into the symbol-name table).
    struct Symbol {
        std::uint32_t name, value, size;
        std::uint8_t info, other;
        std::uint16_t shndx;
        std::string_view nameText;
    };

    static constexpr std::uint32_t kHeaderSize = 52;
    static constexpr std::uint32_t kSectionHeaderSize = 40;
    static constexpr std::uint32_t kSymbolSize = 16;

    bool load(ByteSource& source, bool requireEntry) override;
    const std::string& errorText() const override { return *errorText_; }
    void findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                    std::uint32_t& size, std::uint32_t* dataSize) const override;
    std::uint32_t entryAddress() const override { return entry_; }
    void beginRead(std::uint32_t address, std::uint32_t length) override;
    void readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                  std::uint32_t& length) override;
    bool hasEntry() const override { return hasEntry_; }
    bool findBlockAcross(std::uint32_t boundary, std::uint32_t& start,
                         std::uint32_t& size) const override;

    const Header& header() const { return header_; }
    const std::vector<Section>& sections() const { return sections_; }
    const std::vector<Symbol>& symbols() const { return symbols_; }

private:
    void forget();
    bool refuse(std::string message);
    bool readAt(std::uint32_t offset, std::uint32_t n, void* destination);
    bool readHeader();
    bool readSectionHeaders();
    bool indexDataSections();
    bool readSectionNames();
    bool readSymbols();
    bool findEntry(bool requireEntry);

    Header header_{};
    std::vector<Section> sections_;
    std::vector<char> sectionNames_;
    std::vector<char> symbolNames_;
    int symtabIndex_ = -1;
    int strtabIndex_ = -1;
    std::vector<Symbol> symbols_;
    std::string errorMessage_;
    std::string ownMessage_;
    const std::string* errorText_ = &errorMessage_;
    ByteSource* source_ = nullptr;
    std::uint32_t fileSize_ = 0;
    std::uint32_t entry_ = 0;
    bool hasEntry_ = false;
    // The loadable sections in address order; ids are their indexes in the section table.
    BlockIndex blocks_;

    // Sequential read: the range, the next address to deliver, and the block being read
    // (BlockIndex::npos once past the last).
    std::uint32_t rangeStart_ = 0;
    std::uint32_t rangeLength_ = 0;
    std::uint64_t cursor_ = 0;
    std::size_t currentSection_ = BlockIndex::npos;
};

}  // namespace zq
