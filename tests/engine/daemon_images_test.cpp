#include "engine/daemon_images.h"

#include <gtest/gtest.h>

#include "common/recording_failure_handler.h"
#include "engine/burn_op.h"
#include "engine/image_fit.h"
#include "image/elf_image_reader.h"
#include "image/omf_image_reader.h"
#include "image/reader_harness.h"

namespace zq::testing {
namespace {

using DaemonImagesTest = ContractTest;

std::string bytesOf(const EmbeddedFile& file) {
    return std::string(reinterpret_cast<const char*>(file.data), file.size);
}

// What a replacement daemon must meet as much as the reference ones: it parses with its
// family's reader, defines its entry symbol, and every byte lies in Ram ranges of every
// platform that gets it, so the upload's start-up checks pass.
TEST_F(DaemonImagesTest, EachDaemonLoadsNamesItsEntryAndFitsTheRamOfEveryPlatformUsingIt) {
    const PlatformList platforms;
    std::size_t platformsServed[kDaemonImageCount] = {};
    for (const PlatformEntry& platform : platforms.entries()) {
        const std::size_t index = daemonIndexFor(platform.plID);
        ASSERT_LT(index, kDaemonImageCount) << std::hex << platform.plID;
        ++platformsServed[index];
        const DaemonImage& daemon = daemonImages()[index];
        SCOPED_TRACE(std::string(daemon.file.name) + " on " + platform.name);

        ReaderHarness harness(createImageReader(platform.plID));
        ASSERT_TRUE(harness.load(bytesOf(daemon.file), true)) << harness.errorText();
        ImageReader& reader = harness.reader();
        EXPECT_TRUE(reader.hasEntry());
        EXPECT_EQ(checkImageFit(reader, platform, false), "");
        EXPECT_GT(imageDataBytes(reader), 0u);
        // The entry is the first byte of uploaded data, where EXEC sends the boot loader.
        std::uint32_t start = 0, size = 0;
        reader.findRegion(reader.entryAddress(), 0u - reader.entryAddress(), start, size, nullptr);
        EXPECT_EQ(start, reader.entryAddress());

        if (auto* elf = dynamic_cast<ElfImageReader*>(&reader)) {
            EXPECT_STREQ(daemon.format, "ELF");
            EXPECT_EQ(elf->header().flags, 0x80000000u) << "the embedded-ABI flag";
            bool named = false;
            for (const auto& symbol : elf->symbols())
                named = named || (symbol.nameText == daemon.entrySymbol &&
                                  symbol.value == reader.entryAddress());
            EXPECT_TRUE(named);
        } else if (auto* omf = dynamic_cast<OmfImageReader*>(&reader)) {
            EXPECT_STREQ(daemon.format, "OMF-166");
            ASSERT_FALSE(omf->objects().empty());
            EXPECT_EQ(omf->objects().front().name, daemon.entrySymbol);
        } else {
            ADD_FAILURE() << "no reader for the family";
        }
    }
    for (std::size_t count : platformsServed) EXPECT_GT(count, 0u) << "a daemon serves nobody";
}

TEST_F(DaemonImagesTest, PlatformsGetTheDaemonOfTheirBoardGroup) {
    EXPECT_EQ(daemonIndexFor(0x10000001), 0u);
    EXPECT_EQ(daemonIndexFor(0x10000002), 0u);
    EXPECT_EQ(daemonIndexFor(0x10000100), 1u) << "same family as 0x10000001, other boards";
    EXPECT_EQ(daemonIndexFor(0x10000200), 1u);
    EXPECT_EQ(daemonIndexFor(0x20000003), 2u);
    EXPECT_EQ(daemonIndexFor(0x2ABCDEF0), 2u) << "any MPC8270 identifier";
    EXPECT_EQ(daemonIndexFor(0x30000001), 3u);
    EXPECT_EQ(daemonIndexFor(0x3FFFFFFF), 3u);
    EXPECT_TRUE(takeFailures().empty());

    for (PlId unserved : {0x10000003u, 0x10000000u, 0x40000001u, 0x00000000u}) {
        EXPECT_EQ(daemonIndexFor(unserved), kNoDaemon) << std::hex << unserved;
        EXPECT_EQ(takeFailures(), std::vector{require("daemon for plID")});
    }
    // Four different files, as the table has four rows.
    for (std::size_t i = 0; i < kDaemonImageCount; ++i)
        for (std::size_t j = i + 1; j < kDaemonImageCount; ++j)
            EXPECT_NE(bytesOf(daemonImages()[i].file), bytesOf(daemonImages()[j].file));
}

}  // namespace
}  // namespace zq::testing
