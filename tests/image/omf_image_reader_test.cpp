#include "image/omf_image_reader.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/recording_failure_handler.h"
#include "image/elf_writer.h"
#include "image/reader_harness.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

std::string badRecord(int number) {
    return "Chyba kontrolniho souctu zaznamu c." + std::to_string(number);
}

class OmfReaderTest : public ContractTest {
protected:
    ReaderHarness h{std::make_unique<OmfImageReader>()};
};

TEST_F(OmfReaderTest, RecordsAreFramedChecksummedAndBoundedByTheirBody) {
    const std::string good = omfOther() + omfPedata(0x10000, pattern(16)) + omfOther(0x70, "xyz");
    ASSERT_TRUE(h.load(good)) << h.errorText();
    EXPECT_EQ(h.region(0, 0x1000000), (Region{0x10000, 16, 16}));
    EXPECT_TRUE(h.load("")) << "an empty file holds no records and no data";
    EXPECT_TRUE(h.load(omfRecord(0xE9, std::string("\x01\x00\x00\x00\xAA", 5))));
    EXPECT_EQ(h.region(0, 0x1000000), (Region{0x10000, 1, 1})) << "a PEDATA of one byte";
    ASSERT_TRUE(h.load(good + omfObject(0x0001, "?C_STARTUP", 0, false, 1), true))
        << "a one-byte type index is how the startup module is written: " << h.errorText();
    EXPECT_EQ(h.reader().entryAddress(), 0x10000u);

    std::string offByOne = good,
                badPedata = omfOther() + omfOther() + omfPedata(0x10000, pattern(16));
    offByOne.back() = static_cast<char>(offByOne.back() + 1);
    badPedata[badPedata.size() - 5] ^= 0x10;
    const std::string data = omfPedata(0x10000, pattern(8));
    const std::string longName = std::string("\x00\x00\x01\x00\xFF", 5) + std::string(100, 'A');
    const std::tuple<const char*, std::string, int> cases[] = {
        {"a checksum off by one, in an uninterpreted record", offByOne, 2},
        {"a PEDATA record with a wrong checksum", badPedata, 2},
        {"ends inside the checksum", good.substr(0, good.size() - 1), 2},
        {"ends after the type", good + "\x02", 3},
        {"ends inside the length", good + std::string("\x02\x05", 2), 3},
        {"ends inside the body", good + std::string("\x02\x05\x00\x01", 4), 3},
        {"a length of 0 leaves no room for the checksum",
         omfOther() + std::string("\x02\x00\x00\xFE", 4), 1},
        {"a length of 0 as the first record", std::string("\x00\x00\x00", 3), 0},
        {"a PEDATA record without a data byte",
         omfOther() + omfRecord(0xB9, std::string("\x01\x00\x00\x00", 4)), 1},
        {"an object record not starting with two zero bytes",
         data + omfRecord(0xB3, std::string("\x01\x00\x01\x00\x01X\x00\x00\x00\x01", 10)), 1},
        {"an object record shorter than its minimum", data + omfRecord(0xB3, std::string(9, '\0')),
         1},
        {"a name and offset that run past the body",
         data + omfRecord(0xB3, std::string("\x00\x00\x01\x00\x20", 5) + "?C_STARTUP"), 1},
        {"a name longer than the body", data + omfRecord(0xB3, longName + std::string(10, '\0')),
         1},
    };
    for (const auto& [what, file, record] : cases) {
        SCOPED_TRACE(what);
        h.expectRefused(file, badRecord(record));
    }
}

TEST_F(OmfReaderTest, EntryObjectAddressFromPageOrSegmentBase) {
    // The entry object's segment word, offset and sign, and the address they name.
    const std::tuple<std::uint16_t, std::uint16_t, bool, std::uint32_t> cases[] = {
        {0x0001, 0x0000, false, 0x00010000},  // segment 1
        {0x0003, 0x1234, false, 0x00031234},  // segment 3 + offset
        {0x7F02, 0x0010, false, 0x00020010},  // segment number from the low byte only
        {0x8040, 0x0100, false, 0x00100100},  // page 0x40 of 16 KiB
        {0x8041, 0x0004, true, 0x00103FFC},   // page 0x41 minus 4
        {0x0002, 0x0010, true, 0x0001FFF0},   // segment 2 minus 0x10
    };
    for (const auto& [word, offset, negative, address] : cases) {
        SCOPED_TRACE(address);
        std::string f = omfOther() + omfObject(word, "?C_STARTUP", offset, negative) +
                        omfPedata(address, pattern(4));
        ASSERT_TRUE(h.load(f, true)) << h.errorText();
        EXPECT_TRUE(h.reader().hasEntry());
        EXPECT_EQ(h.reader().entryAddress(), address);
    }
}

TEST_F(OmfReaderTest, EntryObjectMustNameTheStartOfAPedataRecord) {
    const std::string data = omfPedata(0x10000, pattern(0x20));
    const std::string other = data + omfObject(0x0001, "?C_OTHER", 0);
    ASSERT_TRUE(h.load(other, false)) << "the entry is needed only when asked for";
    EXPECT_FALSE(h.reader().hasEntry());
    const std::string firstOfTwo = std::string("\x00\x00\x01\x00\x03", 5) + "ABC" +
                                   std::string("\x00\x00\x00\x01\x01", 5) + "\x0A?C_STARTUP" +
                                   std::string("\x00\x00\x00\x01\x01", 5);
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"no object of that name", other, false},
        {"an address inside, not at the start of, a record",
         data + omfObject(0x0001, "?C_STARTUP", 4), false},
        {"the first object of that name counts",
         data + omfObject(0x0002, "?C_STARTUP", 0) + omfObject(0x0001, "?C_STARTUP", 0), false},
        {"a name longer than 64 characters is never found",
         data + omfObject(0x0001, "?C_STARTUP" + std::string(60, '_'), 0) +
             omfObject(0x0001, "?C_STARTUP", 0),
         true},
        {"only the first entry of a record is read", data + omfRecord(0xB3, firstOfTwo), false},
    };
    for (const auto& [what, file, found] : cases) {
        SCOPED_TRACE(what);
        if (found)
            EXPECT_TRUE(h.load(file, true)) << h.errorText();
        else
            h.expectRefused(file, "Nenalezen symbol ?C_STARTUP", true);
    }
}

TEST_F(OmfReaderTest, PiecesRunOnAcrossContiguousRecords) {
    const std::string a = pattern(100), b = pattern(50, 0x80);
    {
        SCOPED_TRACE("contiguous: one piece");
        ASSERT_TRUE(h.load(omfPedata(0x10000, a) + omfPedata(0x10064, b)));
        EXPECT_EQ(h.read(0x10000, 150, 492), (std::vector<Piece>{{0x10000, a + b}}));
        EXPECT_EQ(h.pieceSizes(0x10000, 100, 492), (std::vector<std::uint32_t>{100}))
            << "the read ends with the range";
        EXPECT_TRUE(h.read(0x10001, 99).empty()) << "a read must start at a record";
        EXPECT_EQ(takeFailures(),
                  (std::vector<RecordedFailure>{explicitFailure("Nenalezen prvni PEDATA zaznam")}));
    }
    {
        SCOPED_TRACE("a gap: two pieces");
        ASSERT_TRUE(h.load(omfPedata(0x10000, a) + omfPedata(0x10070, b)));
        EXPECT_EQ(h.read(0x10000, 0xA2, 492), (std::vector<Piece>{{0x10000, a}, {0x10070, b}}));
    }
    {
        SCOPED_TRACE("496/496/8 over records of 200 bytes");
        std::string f, all;
        for (std::uint32_t i = 0; i < 5; ++i) {
            std::string d = pattern(200, static_cast<std::uint8_t>(i * 31));
            f += omfPedata(0x20000 + i * 200, d);
            all += d;
        }
        ASSERT_TRUE(h.load(f));
        EXPECT_EQ(h.read(0x20000, 1000), (std::vector<Piece>{{0x20000, all.substr(0, 496)},
                                                             {0x20000 + 496, all.substr(496, 496)},
                                                             {0x20000 + 992, all.substr(992)}}));
    }
}

TEST_F(OmfReaderTest, OverlappingRecordsAreRefused) {
    std::string f = omfOther() + omfPedata(0x10000, pattern(0x40)) + omfOther() +
                    omfPedata(0x10020, pattern(0x40));
    h.expectRefused(f, "PEDATA zaznam c.3 prekryva jiny zaznam");
    h.expectRefused(omfPedata(0x10020, pattern(4)) + omfPedata(0x10000, pattern(0x40)),
                    "PEDATA zaznam c.1 prekryva jiny zaznam");
}

}  // namespace
}  // namespace zq::testing
