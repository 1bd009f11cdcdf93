#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/block_index.h"
#include "image/image_reader.h"

namespace zq {

// A PEDATA record (types 0xB9 and 0xE9): bytes at an absolute address. The data stay in the
// reader's buffer; the record names them by offset.
struct PedataRecord {
    std::uint32_t address;
    std::uint8_t attribute;
    std::uint32_t dataOffset;
    std::uint32_t dataLength;
    std::uint32_t recordNumber;  // counted from 0 over all records of the file
};

// The first symbol entry of an object record (type 0xB3) whose name fits.
struct ObjectRecord {
    std::string name;
    std::uint32_t address;
};

// Absolute object files in the OMF-166 record format (XC167 images). load reads the whole file
// into memory and never touches the source again.
class OmfImageReader : public ImageReader {
public:
    static constexpr std::uint8_t kPedata = 0xB9;
    static constexpr std::uint8_t kPedataAlt = 0xE9;
    static constexpr std::uint8_t kObject = 0xB3;
    static constexpr std::size_t kMaxObjectName = 64;

    bool load(ByteSource& source, bool requireEntry) override;
    const std::string& errorText() const override { return errorMessage_; }
    void findRegion(std::uint32_t address, std::uint32_t length, std::uint32_t& start,
                    std::uint32_t& size, std::uint32_t* dataSize) const override;
    std::uint32_t entryAddress() const override { return entry_; }
    void beginRead(std::uint32_t address, std::uint32_t length) override;
    void readNext(std::uint8_t* dst, std::uint32_t maxLength, std::uint32_t& address,
                  std::uint32_t& length) override;
    bool hasEntry() const override { return entryObject_ != nullptr; }
    bool findBlockAcross(std::uint32_t boundary, std::uint32_t& start,
                         std::uint32_t& size) const override;

    // In file order.
    const std::vector<PedataRecord>& pedataRecords() const { return pedata_; }
    const std::vector<ObjectRecord>& objects() const { return objects_; }

private:
    struct Frame {
        std::uint8_t type;
        std::uint32_t bodyOffset;
        std::uint32_t bodyLength;
    };

    void forget();
    bool refuse(std::string message);
    bool readFrame(std::uint32_t& pos, Frame& frame) const;
    bool takePedata(const Frame& frame, std::uint32_t recordNumber);
    bool takeObject(const Frame& frame);
    bool resolveEntry();
    const std::uint8_t* dataOf(std::size_t sortedIndex) const;

    std::vector<std::uint8_t> file_;
    std::vector<PedataRecord> pedata_;
    std::vector<ObjectRecord> objects_;
    std::string errorMessage_;
    std::uint32_t entry_ = 0;
    const ObjectRecord* entryObject_ = nullptr;
    const PedataRecord* entryPedata_ = nullptr;
    // The PEDATA records in address order; ids are their positions in pedata_.
    BlockIndex blocks_;

    std::uint32_t rangeStart_ = 0;
    std::uint32_t rangeLength_ = 0;
    std::uint64_t cursor_ = 0;
    std::size_t currentIndex_ = BlockIndex::npos;
};

}  // namespace zq
