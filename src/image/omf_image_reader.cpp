#include "image/omf_image_reader.h"

#include <cstring>

#include "support/fail.h"
#include "support/text.h"

namespace zq {

namespace {

constexpr const char* kBadRecord = "Chyba kontrolniho souctu zaznamu c.%d";
constexpr const char* kNoSymbol = "Nenalezen symbol %s";
constexpr const char* kOverlap = "PEDATA zaznam c.%d prekryva jiny zaznam";

constexpr std::uint32_t kMinPedataBody = 5;
constexpr std::uint32_t kMinObjectBody = 10;

std::uint32_t u16le(const std::uint8_t* p) {
    return p[0] | static_cast<std::uint32_t>(p[1]) << 8;
}

}  // namespace

void OmfImageReader::forget() {
    file_.clear();
    pedata_.clear();
    objects_.clear();
    entry_ = 0;
    entryObject_ = nullptr;
    entryPedata_ = nullptr;
    blocks_.clear();
    rangeStart_ = 0;
    rangeLength_ = 0;
    cursor_ = 0;
    currentIndex_ = BlockIndex::npos;
}

bool OmfImageReader::refuse(std::string message) {
    errorMessage_ = std::move(message);
    // A refused file has no data: nothing may be found or read from what was parsed so far.
    blocks_.clear();
    entryObject_ = nullptr;
    entryPedata_ = nullptr;
    return false;
}

bool OmfImageReader::load(ByteSource& source, bool requireEntry) {
    forget();
    const std::uint32_t total = source.remaining();
    file_.resize(total);
    if (total != 0 && !source.read(file_.data(), total)) return refuse(formatText(kBadRecord, 0));

    std::uint32_t pos = 0;
    for (std::uint32_t r = 0; pos < total; ++r) {
        Frame frame{};
        bool ok = readFrame(pos, frame);
        if (ok && (frame.type == kPedata || frame.type == kPedataAlt)) ok = takePedata(frame, r);
        if (ok && frame.type == kObject) ok = takeObject(frame);
        // The format gives no message of its own for a record that cannot be read; the
        // checksum message with its number serves for every kind of record.
        if (!ok) return refuse(formatText(kBadRecord, static_cast<int>(r)));
    }

    std::vector<ImageBlock> blocks;
    blocks.reserve(pedata_.size());
    for (const PedataRecord& p : pedata_) blocks.push_back({p.address, p.dataLength});
    blocks_.assign(std::move(blocks), {});
    // Two records that claim the same byte cannot both be burned: the second would overwrite
    // the first, and the byte counts of the range would not add up.
    std::size_t overlap = blocks_.firstOverlap();
    if (overlap != BlockIndex::npos) {
        std::uint32_t a = pedata_[blocks_.id(overlap - 1)].recordNumber;
        std::uint32_t b = pedata_[blocks_.id(overlap)].recordNumber;
        return refuse(formatText(kOverlap, static_cast<int>(a > b ? a : b)));
    }

    if (!resolveEntry() && requireEntry) return refuse(formatText(kNoSymbol, kOmfEntrySymbol));
    return true;
}

// type (1), length (u16 LE: the bytes that follow), body (length - 1), checksum (1); all bytes
// of a record add up to 0 modulo 256.
bool OmfImageReader::readFrame(std::uint32_t& pos, Frame& frame) const {
    const std::uint32_t total = static_cast<std::uint32_t>(file_.size());
    const std::uint8_t* p = file_.data() + pos;
    frame.type = p[0];
    if (total - pos < 3) return false;
    const std::uint32_t length = u16le(p + 1);
    // A length of 0 would leave no room even for the checksum.
    if (length == 0 || total - pos - 3 < length) return false;
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < 3 + length; ++i) sum = static_cast<std::uint8_t>(sum + p[i]);
    if (sum != 0) return false;
    frame.bodyOffset = pos + 3;
    frame.bodyLength = length - 1;
    pos += 3 + length;
    return true;
}

bool OmfImageReader::takePedata(const Frame& frame, std::uint32_t recordNumber) {
    if (frame.bodyLength < kMinPedataBody) return false;
    const std::uint8_t* b = file_.data() + frame.bodyOffset;
    PedataRecord p{};
    p.address = static_cast<std::uint32_t>(b[0]) << 16 | u16le(b + 1);
    p.attribute = b[3];
    p.dataOffset = frame.bodyOffset + 4;
    p.dataLength = frame.bodyLength - 4;
    p.recordNumber = recordNumber;
    pedata_.push_back(p);
    return true;
}

// 0-1: zero; 2-3: base word; first symbol entry: name length n, name, offset (u16 LE), flags
// (bit 7: sign), then a type index that nothing uses and that the C166 startup module writes
// with one byte only, so the entry is complete once its flags are in.
bool OmfImageReader::takeObject(const Frame& frame) {
    if (frame.bodyLength < kMinObjectBody) return false;
    const std::uint8_t* b = file_.data() + frame.bodyOffset;
    if (b[0] != 0 || b[1] != 0) return false;
    const std::uint32_t word = u16le(b + 2);
    const std::uint32_t n = b[4];
    if (8 + n > frame.bodyLength) return false;
    // A longer name does not fit the record as the loader keeps it: accepted, never found.
    if (n > kMaxObjectName) return true;
    const std::uint32_t offset = u16le(b + 5 + n);
    const bool negative = (b[7 + n] & 0x80) != 0;
    // Bit 15 set: a 16 KiB page number; clear: a 64 KiB segment number.
    const std::uint32_t base =
        (word & 0x8000) != 0 ? (word & 0x7FFF) * 0x4000u : (word & 0xFF) * 0x10000u;
    ObjectRecord object;
    object.name.assign(reinterpret_cast<const char*>(b + 5), n);
    object.address = negative ? base - offset : base + offset;
    objects_.push_back(std::move(object));
    return true;
}

bool OmfImageReader::resolveEntry() {
    for (const ObjectRecord& object : objects_) {
        if (object.name != kOmfEntrySymbol) continue;
        for (const PedataRecord& p : pedata_) {
            if (p.address != object.address) continue;
            entryObject_ = &object;
            entryPedata_ = &p;
            entry_ = object.address;
            return true;
        }
        return false;
    }
    return false;
}

void OmfImageReader::findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                                std::uint32_t& size, std::uint32_t* dataSize) const {
    blocks_.findRegion(address, length, start, size, dataSize);
}

bool OmfImageReader::findBlockAcross(std::uint32_t boundary, std::uint32_t& start,
                                     std::uint32_t& size) const {
    return blocks_.blockAcross(boundary, start, size);
}

const std::uint8_t* OmfImageReader::dataOf(std::size_t sortedIndex) const {
    return file_.data() + pedata_[blocks_.id(sortedIndex)].dataOffset;
}

void OmfImageReader::beginRead(std::uint32_t address, std::uint32_t length) {
    rangeStart_ = address;
    rangeLength_ = length;
    cursor_ = address;
    currentIndex_ = blocks_.blockAt(address);
    if (currentIndex_ == BlockIndex::npos) failExplicit("Nenalezen prvni PEDATA zaznam");
}

// Unlike ELF sections, pieces run on across records as long as their data are contiguous, so
// an image cut into small records still goes out in full-sized writes.
void OmfImageReader::readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                              std::uint32_t& length) {
    address = 0;
    length = 0;
    const std::uint64_t rangeEnd = std::uint64_t{rangeStart_} + rangeLength_;
    bool contiguous = true;
    while (contiguous && currentIndex_ < blocks_.count() && cursor_ >= rangeStart_ &&
           cursor_ < rangeEnd && length < maxLength) {
        const ImageBlock& block = blocks_.block(currentIndex_);
        const std::uint64_t left = block.end() - cursor_;
        const std::uint32_t room = maxLength - length;
        const std::uint32_t n = left < room ? static_cast<std::uint32_t>(left) : room;
        std::memcpy(dst + length, dataOf(currentIndex_) + (cursor_ - block.address), n);
        if (length == 0) address = static_cast<std::uint32_t>(cursor_);
        length += n;
        cursor_ += n;
        if (cursor_ == block.end()) {
            ++currentIndex_;
            if (currentIndex_ < blocks_.count()) {
                contiguous = blocks_.block(currentIndex_).address == cursor_;
                cursor_ = blocks_.block(currentIndex_).address;
            }
        }
    }
    if (length == 0) address = 0;
}

}  // namespace zq
