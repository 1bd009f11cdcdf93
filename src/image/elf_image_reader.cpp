#include "image/elf_image_reader.h"

#include <cstring>

#include "support/fail.h"
#include "support/mem_ptr.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kBadHeader = "Chyba pri cteni ELF hlavicky";
constexpr const char* kBadSectionHeader = "Chyba pri cteni hlavicky %d. sekce";
constexpr const char* kBadShstrtab = "Chyba pri cteni .shstrtab";
constexpr const char* kNoSymbolTables = "Nenalezena sekce .strtab a/nebo .symtab";
constexpr const char* kBadStrtab = "Chyba pri cteni .strtab";
constexpr const char* kBadSymbolSize = "Velikost zaznamu v .symtab je %d, ocekavano %d";
constexpr const char* kBadSymbol = "Chyba pri cteni %d. zaznamu v .symtab";
constexpr const char* kNoSymbol = "Nenalezen symbol %s";

constexpr std::uint16_t kTypeExecutable = 2;
constexpr std::uint16_t kMachinePowerPc = 20;
// EF_PPC_EMB: the embedded ABI, and no other flag.
constexpr std::uint32_t kFlagsEmbedded = 0x80000000u;
constexpr std::uint32_t kProgramHeaderSize = 32;

constexpr std::uint32_t kSectionNull = 0;
constexpr std::uint32_t kSectionProgBits = 1;
constexpr std::uint32_t kSectionNoBits = 8;
constexpr std::uint32_t kSectionAlloc = 0x2;

// The name at `offset` of a string table, or false when it does not start and end (with its
// terminating zero) inside the table.
bool nameAt(const std::vector<char>& table, std::uint32_t offset, std::string_view& name) {
    if (offset >= table.size()) return false;
    const char* begin = table.data() + offset;
    const void* zero = std::memchr(begin, 0, table.size() - offset);
    if (zero == nullptr) return false;
    name =
        std::string_view(begin, static_cast<std::size_t>(static_cast<const char*>(zero) - begin));
    return true;
}

// A section whose bytes the loader would put into the target: program data that the image
// allocates. Toolchains leave .comment and .debug_* unallocated at address 0; no loader writes
// them, so neither may a burn.
bool isLoadable(const ElfImageReader::Section& s) {
    return s.type == kSectionProgBits && (s.flags & kSectionAlloc) != 0 && s.size != 0;
}

}  // namespace

void ElfImageReader::forget() {
    header_ = Header{};
    sections_.clear();
    sectionNames_.clear();
    symbolNames_.clear();
    symbols_.clear();
    symtabIndex_ = -1;
    strtabIndex_ = -1;
    errorText_ = &errorMessage_;
    source_ = nullptr;
    fileSize_ = 0;
    entry_ = 0;
    hasEntry_ = false;
    blocks_.clear();
    rangeStart_ = 0;
    rangeLength_ = 0;
    cursor_ = 0;
    currentSection_ = BlockIndex::npos;
}

bool ElfImageReader::refuse(std::string message) {
    errorMessage_ = std::move(message);
    errorText_ = &errorMessage_;
    // A refused image has no data: nothing may be found or read from what was parsed so far.
    blocks_.clear();
    hasEntry_ = false;
    return false;
}

bool ElfImageReader::readAt(std::uint32_t offset, std::uint32_t n, void* destination) {
    if (offset > fileSize_ || fileSize_ - offset < n) return false;
    source_->seekFromStart(offset);
    return source_->read(destination, n);
}

bool ElfImageReader::load(ByteSource& source, bool requireEntry) {
    forget();
    source_ = &source;
    fileSize_ = source.size();
    if (!readHeader()) return refuse(kBadHeader);
    return readSectionHeaders() && indexDataSections() && readSectionNames() && readSymbols() &&
           findEntry(requireEntry);
}

bool ElfImageReader::readHeader() {
    if (source_->remaining() < kHeaderSize) return false;
    std::uint8_t raw[kHeaderSize];
    if (!source_->read(raw, kHeaderSize)) return false;
    MemPtr h(raw, kHeaderSize);
    Header& e = header_;
    std::memcpy(e.ident, raw, sizeof e.ident);
    e.type = h.getU16(16, kBigEndian);
    e.machine = h.getU16(18, kBigEndian);
    e.version = h.getU32(20, kBigEndian);
    e.entry = h.getU32(24, kBigEndian);
    e.phoff = h.getU32(28, kBigEndian);
    e.shoff = h.getU32(32, kBigEndian);
    e.flags = h.getU32(36, kBigEndian);
    e.ehsize = h.getU16(40, kBigEndian);
    e.phentsize = h.getU16(42, kBigEndian);
    e.phnum = h.getU16(44, kBigEndian);
    e.shentsize = h.getU16(46, kBigEndian);
    e.shnum = h.getU16(48, kBigEndian);
    e.shstrndx = h.getU16(50, kBigEndian);
    // The class and data-encoding bytes are not examined: the fields above only make sense
    // for a 32-bit big-endian file, and a file that is not one fails them.
    return std::memcmp(e.ident,
                       "\x7F"
                       "ELF",
                       4) == 0 &&
           e.type == kTypeExecutable && e.machine == kMachinePowerPc && e.version == 1 &&
           e.flags == kFlagsEmbedded && e.ehsize == kHeaderSize &&
           e.phentsize == kProgramHeaderSize && e.shentsize == kSectionHeaderSize &&
           e.phoff < fileSize_ && e.shoff < fileSize_;
}

bool ElfImageReader::readSectionHeaders() {
    const std::uint32_t count = header_.shnum;
    // Only the headers that the file holds are read; the first missing one is the error.
    const std::uint32_t available = (fileSize_ - header_.shoff) / kSectionHeaderSize;
    const std::uint32_t present = count < available ? count : available;
    std::vector<std::uint8_t> raw(std::size_t{present} * kSectionHeaderSize);
    if (present != 0 && !readAt(header_.shoff, present * kSectionHeaderSize, raw.data()))
        return refuse(formatText(kBadSectionHeader, 0));
    sections_.reserve(present);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i >= present) return refuse(formatText(kBadSectionHeader, static_cast<int>(i)));
        MemPtr h(raw.data() + std::size_t{i} * kSectionHeaderSize, kSectionHeaderSize);
        Section s{};
        std::uint32_t* fields[] = {&s.name, &s.type, &s.flags, &s.addr,      &s.offset,
                                   &s.size, &s.link, &s.info,  &s.addralign, &s.entsize};
        for (std::uint32_t f = 0; f < 10; ++f) *fields[f] = h.getU32(f * 4, kBigEndian);
        // Bytes of any section with contents must lie inside the file, or they would be read
        // past its end during a burn.
        bool outside = s.offset >= fileSize_;
        if (s.type != kSectionNoBits && std::uint64_t{s.offset} + s.size > fileSize_)
            outside = true;
        if (s.type != kSectionNull && outside)
            return refuse(formatText(kBadSectionHeader, static_cast<int>(i)));
        sections_.push_back(s);
    }
    return true;
}

bool ElfImageReader::indexDataSections() {
    std::vector<ImageBlock> blocks;
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < sections_.size(); ++i) {
        const Section& s = sections_[i];
        if (!isLoadable(s)) continue;
        if (std::uint64_t{s.addr} + s.size > (std::uint64_t{1} << 32))
            return refuse(formatText(kBadSectionHeader, static_cast<int>(i)));
        blocks.push_back({s.addr, s.size});
        ids.push_back(i);
    }
    blocks_.assign(std::move(blocks), std::move(ids));
    // Two sections that claim the same address cannot both be burned: the second would
    // overwrite the first, and the byte counts of the range would not add up.
    std::size_t overlap = blocks_.firstOverlap();
    if (overlap != BlockIndex::npos) {
        std::uint32_t a = blocks_.id(overlap - 1), b = blocks_.id(overlap);
        return refuse(formatText(kBadSectionHeader, static_cast<int>(a > b ? a : b)));
    }
    return true;
}

bool ElfImageReader::readSectionNames() {
    if (header_.shstrndx >= sections_.size()) return refuse(kBadShstrtab);
    const Section& names = sections_[header_.shstrndx];
    if (names.offset > fileSize_ || fileSize_ - names.offset < names.size)
        return refuse(kBadShstrtab);
    sectionNames_.resize(names.size);
    if (!readAt(names.offset, names.size, sectionNames_.data())) return refuse(kBadShstrtab);
    for (std::size_t i = 0; i < sections_.size(); ++i) {
        Section& s = sections_[i];
        if (!nameAt(sectionNames_, s.name, s.nameText)) return refuse(kBadShstrtab);
        if (s.nameText == ".strtab") strtabIndex_ = static_cast<int>(i);
        if (s.nameText == ".symtab") symtabIndex_ = static_cast<int>(i);
    }
    if (strtabIndex_ < 0 || symtabIndex_ < 0) return refuse(kNoSymbolTables);
    return true;
}

bool ElfImageReader::readSymbols() {
    const Section& strtab = sections_[static_cast<std::size_t>(strtabIndex_)];
    if (strtab.offset > fileSize_ || fileSize_ - strtab.offset < strtab.size)
        return refuse(kBadStrtab);
    symbolNames_.resize(strtab.size);
    if (!readAt(strtab.offset, strtab.size, symbolNames_.data())) return refuse(kBadStrtab);

    const Section& symtab = sections_[static_cast<std::size_t>(symtabIndex_)];
    if (symtab.entsize != kSymbolSize)
        return refuse(formatText(kBadSymbolSize, static_cast<int>(symtab.entsize),
                                 static_cast<int>(kSymbolSize)));
    const std::uint32_t count = symtab.size / kSymbolSize;
    const std::uint32_t available =
        symtab.offset <= fileSize_ ? (fileSize_ - symtab.offset) / kSymbolSize : 0;
    const std::uint32_t present = count < available ? count : available;
    std::vector<std::uint8_t> raw(std::size_t{present} * kSymbolSize);
    if (present != 0 && !readAt(symtab.offset, present * kSymbolSize, raw.data()))
        return refuse(formatText(kBadSymbol, 0));
    symbols_.reserve(present);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (i >= present) return refuse(formatText(kBadSymbol, static_cast<int>(i)));
        MemPtr r(raw.data() + std::size_t{i} * kSymbolSize, kSymbolSize);
        Symbol sym{};
        sym.name = r.getU32(0, kBigEndian);
        sym.value = r.getU32(4, kBigEndian);
        sym.size = r.getU32(8, kBigEndian);
        sym.info = r.getU8(12);
        sym.other = r.getU8(13);
        sym.shndx = r.getU16(14, kBigEndian);
        symbols_.push_back(sym);
    }
    for (Symbol& sym : symbols_)
        if (!nameAt(symbolNames_, sym.name, sym.nameText)) return refuse(kBadStrtab);
    return true;
}

bool ElfImageReader::findEntry(bool requireEntry) {
    for (const Symbol& sym : symbols_) {
        if (sym.nameText == kElfEntrySymbol) {
            entry_ = sym.value;
            hasEntry_ = true;
            return true;
        }
    }
    if (!requireEntry) return true;
    ownMessage_ = formatText(kNoSymbol, kElfEntrySymbol);
    errorText_ = &ownMessage_;
    blocks_.clear();
    return false;
}

void ElfImageReader::findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                                std::uint32_t& size, std::uint32_t* dataSize) const {
    blocks_.findRegion(address, length, start, size, dataSize);
}

bool ElfImageReader::findBlockAcross(std::uint32_t boundary, std::uint32_t& start,
                                     std::uint32_t& size) const {
    return blocks_.blockAcross(boundary, start, size);
}

void ElfImageReader::beginRead(std::uint32_t address, std::uint32_t length) {
    rangeStart_ = address;
    rangeLength_ = length;
    cursor_ = address;
    currentSection_ = blocks_.blockAt(address);
    if (currentSection_ == BlockIndex::npos) failExplicit("cteni nezacina na zacatku sekce");
}

void ElfImageReader::readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                              std::uint32_t& length) {
    address = 0;
    length = 0;
    if (currentSection_ >= blocks_.count()) return;
    if (cursor_ < rangeStart_ || cursor_ >= std::uint64_t{rangeStart_} + rangeLength_) return;
    const ImageBlock& block = blocks_.block(currentSection_);
    const std::uint64_t left = block.end() - cursor_;
    const std::uint32_t n = left < maxLength ? static_cast<std::uint32_t>(left) : maxLength;
    if (n == 0) return;
    const Section& s = sections_[blocks_.id(currentSection_)];
    const std::uint32_t offset = s.offset + static_cast<std::uint32_t>(cursor_ - block.address);
    // The load checked that every section lies inside the file; only a file that changed
    // since then can fail here.
    if (!require(source_ != nullptr && readAt(offset, n, dst), "enough data")) return;
    address = static_cast<std::uint32_t>(cursor_);
    length = n;
    cursor_ += n;
    if (cursor_ == block.end()) {
        ++currentSection_;
        if (currentSection_ < blocks_.count()) cursor_ = blocks_.block(currentSection_).address;
    }
}

}  // namespace zq
