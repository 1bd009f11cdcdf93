#include "engine/image_fit.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/recording_failure_handler.h"
#include "image/elf_image_reader.h"
#include "image/elf_writer.h"
#include "image/omf_image_reader.h"
#include "image/reader_harness.h"
#include "tools/omf_writer.h"

namespace zq::testing {
namespace {

const PlatformList kPlatforms;

// OMF-166 images against the QB5 boards' XC167 map (0x10000001), ELF images against the 8 MB
// MPC8270 map (0x20000003), whose last range reaches the top of the address space.
class ImageFitTest : public ContractTest {
protected:
    std::string omf(const std::string& file) {
        EXPECT_TRUE(omfReader.load(file)) << omfReader.errorText();
        return checkImageFit(omfReader.reader(), *kPlatforms.find(0x10000001), true);
    }
    std::string elf(const ElfWriter& w, bool flashBurn = true) {
        EXPECT_TRUE(elfReader.load(w.build())) << elfReader.errorText();
        return checkImageFit(elfReader.reader(), *kPlatforms.find(0x20000003), flashBurn);
    }

    ReaderHarness omfReader{std::make_unique<OmfImageReader>()};
    ReaderHarness elfReader{std::make_unique<ElfImageReader>()};
};

TEST_F(ImageFitTest, ImageInsideWrittenRangesFits) {
    EXPECT_EQ(omf(omfPedata(0x10000, pattern(0x100)) + omfPedata(0x1FFFF0, pattern(0x10)) +
                  omfPedata(0xD5FFFF, "x")),
              "");
    ElfWriter w;
    w.text(".text", 0xFF800000, pattern(64)).text(".reset", 0xFFFFFFFC, pattern(4));
    EXPECT_EQ(elf(w), "") << "data at the very top fit when the last range reaches it";
    EXPECT_EQ(omf(""), "") << "an image without data breaks no rule of the map";
}

TEST_F(ImageFitTest, DataBetweenRangesDoNotFit) {
    EXPECT_EQ(omf(omfPedata(0x10000, pattern(0x10)) + omfPedata(0x300000, pattern(0x10)) +
                  omfPedata(0x300100, pattern(0x20))),
              "Block 0x00300000-0x0030011F doesn't fit into device's memory map")
        << "first to last address of the data found in the gap";
    EXPECT_EQ(omf(omfPedata(0x0FFFF, "x")),
              "Block 0x0000FFFF-0x0000FFFF doesn't fit into device's memory map");
    EXPECT_EQ(omf(omfPedata(0xE01800, "x")),
              "Block 0x00E01800-0x00E01800 doesn't fit into device's memory map")
        << "above the last range";
    ElfWriter w;
    w.text(".text", 0xFF800000, pattern(64)).text(".boot", 0xFFF00000, pattern(4));
    EXPECT_EQ(elf(w), "Block 0xFFF00000-0xFFF00003 doesn't fit into device's memory map");
}

TEST_F(ImageFitTest, BlocksAcrossARangeEdgeAreRefused) {
    EXPECT_EQ(omf(omfPedata(0x0FFFF0, pattern(0x20))),
              "Block 0x000FFFF0-0x0010000F crosses a memory range boundary")
        << "the two flash ranges meet at 0x00100000";
    EXPECT_EQ(omf(omfPedata(0x00FFF0, pattern(0x20))),
              "Block 0x0000FFF0-0x0001000F doesn't fit into device's memory map")
        << "from the gap below the map into its first range";
    ElfWriter w;
    w.text(".text", 0xFF800000, pattern(64)).text(".tail", 0xFFEFFFF0, pattern(0x20));
    EXPECT_EQ(elf(w), "Block 0xFFEFFFF0-0xFFF0000F doesn't fit into device's memory map")
        << "from the end of a range into a gap: the gap alone holds no whole block";
    ElfWriter across;
    across.text(".cfg", 0x8054FF80, pattern(0x100));
    EXPECT_EQ(elf(across), "Block 0x8054FF80-0x8055007F crosses a memory range boundary");
}

TEST_F(ImageFitTest, DataInARangeTheOperationDoesNotWrite) {
    EXPECT_EQ(omf(omfPedata(0x10000, pattern(4)) + omfPedata(0x400010, pattern(4))),
              "Unexpected use of memory range 0x00400000 - 0x0067FFFF");
    ElfWriter w;
    w.text(".text", 0xFFF40000, pattern(4)).text(".data", 0x00100000, pattern(12));
    EXPECT_EQ(elf(w), "Unexpected use of memory range 0x00000000 - 0x07FFFFFF");
    ElfWriter daemon;
    daemon.text(".text", 0x00001000, pattern(64));
    EXPECT_EQ(elf(daemon, false), "") << "a daemon upload writes the Ram range";
    EXPECT_EQ(elf(w, false), "Unexpected use of memory range 0xFFF40000 - 0xFFFFFFFF");
}

TEST_F(ImageFitTest, FitIsCheckedBeforeBoundariesAndKinds) {
    EXPECT_EQ(omf(omfPedata(0x400000, pattern(4)) + omfPedata(0x0FFFF0, pattern(0x20)) +
                  omfPedata(0x300000, pattern(4))),
              "Block 0x00300000-0x00300003 doesn't fit into device's memory map");
    EXPECT_EQ(omf(omfPedata(0x400000, pattern(4)) + omfPedata(0x0FFFF0, pattern(0x20))),
              "Block 0x000FFFF0-0x0010000F crosses a memory range boundary");
}

}  // namespace
}  // namespace zq::testing
