// The ELF reader against files written by the real PowerPC toolchain, with readelf as the
// oracle for sections, addresses, file offsets and the entry symbol.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/recording_failure_handler.h"
#include "image/elf_image_reader.h"
#include "image/ppc_images.h"
#include "image/reader_harness.h"

namespace zq::testing {
namespace {

struct Window {
    std::uint32_t start;
    std::uint32_t size;
};

// The ranges of the PowerPC boards' memory maps, and the whole address space.
const Window kWindows[] = {
    {0x00000000, 0x08000000}, {0x80500000, 0x00010000}, {0x80540000, 0x00010000},
    {0x80550000, 0x00010000}, {0xFF800000, 0x00700000}, {0xFF000000, 0x00F00000},
    {0xFE000000, 0x01F00000}, {0xFFF40000, 0x000C0000}, {0x00004000, 0x001FC000},
    {0x20000000, 0x00200000}, {0x40000000, 0x00010000}, {0x00000000, 0xFFFFFFFF},
};

// Contiguous pieces joined, so that the reader's pieces and readelf's sections compare.
std::vector<Piece> joined(std::vector<Piece> pieces) {
    std::vector<Piece> out;
    for (Piece& p : pieces) {
        if (!out.empty() && out.back().address + out.back().bytes.size() == p.address)
            out.back().bytes += p.bytes;
        else
            out.push_back(std::move(p));
    }
    return out;
}

class ElfToolchainTest : public ContractTest, public ::testing::WithParamInterface<const char*> {
protected:
    const PpcImage& image = ppcImage(GetParam());
    const ReadelfView view = parseReadelf(image.readelf);
    ReaderHarness h{std::make_unique<ElfImageReader>()};
};

TEST_P(ElfToolchainTest, HeaderAndEntryAsReadelfSees) {
    ASSERT_FALSE(view.sections.empty()) << image.readelf;
    EXPECT_EQ(view.flags.substr(0, 10), "0x80000000") << "assembled for the embedded ABI";
    ASSERT_TRUE(h.load(image.elf, false)) << h.errorText();
    const ReadelfView::Symbol* start = view.symbol("_start");
    EXPECT_EQ(h.reader().hasEntry(), start != nullptr);
    if (start != nullptr) {
        EXPECT_EQ(h.reader().entryAddress(), start->value);
    }

    EXPECT_EQ(h.load(image.elf, true), start != nullptr);
    if (start == nullptr) {
        EXPECT_EQ(h.errorText(), "Nenalezen symbol _start");
    }
}

TEST_P(ElfToolchainTest, RegionsAndBytesAsReadelfSees) {
    ASSERT_TRUE(h.load(image.elf, false)) << h.errorText();
    std::vector<ReadelfView::Section> loadable = view.loadable();
    std::sort(loadable.begin(), loadable.end(),
              [](const auto& a, const auto& b) { return a.addr < b.addr; });
    ASSERT_FALSE(loadable.empty());

    int compared = 0;
    for (const Window& w : kWindows) {
        SCOPED_TRACE(::testing::Message() << "window 0x" << std::hex << w.start);
        const std::uint64_t limit = std::uint64_t{w.start} + w.size;
        Region expected{};
        std::vector<Piece> bytes;
        bool cut = false;
        for (const auto& s : loadable) {
            const std::uint64_t end = std::uint64_t{s.addr} + s.size;
            const bool inside = s.addr >= w.start && end <= limit;
            cut = cut || (!inside && s.addr < limit && end > w.start);
            if (!inside) continue;
            if (expected.size == 0) expected.start = s.addr;
            expected.size = static_cast<std::uint32_t>(end - expected.start);
            expected.dataSize += s.size;
            bytes.push_back({s.addr, image.elf.substr(s.offset, s.size)});
        }
        if (cut) continue;  // the straddling images are the fit checks' business
        ++compared;
        ASSERT_EQ(h.region(w.start, w.size), expected);
        if (expected.size == 0) continue;
        std::vector<Piece> pieces = h.read(expected.start, expected.size);
        for (const Piece& p : pieces) EXPECT_LE(p.bytes.size(), 496u);
        EXPECT_EQ(joined(pieces), joined(bytes));
    }
    EXPECT_GE(compared, 1) << "the whole address space at least";
}

INSTANTIATE_TEST_SUITE_P(Binutils, ElfToolchainTest,
                         ::testing::Values("mpc8270_app", "mpc5554_app", "mpc5554_daemon",
                                           "mpc8270_ram", "mpc8270_gap", "mpc8270_straddle",
                                           "mpc8270_across"));

TEST(ElfToolchain, UnallocatedAndOutOfOrderSections) {
    ReaderHarness h{std::make_unique<ElfImageReader>()};
    ReadelfView view = parseReadelf(ppcImage("mpc5554_app").readelf);
    ASSERT_TRUE(h.load(ppcImage("mpc5554_app").elf));
    std::vector<std::string> names;
    for (const auto& s : view.sections) names.push_back(s.name);
    ASSERT_EQ(names, (std::vector<std::string>{"", ".text", ".bss", ".data", ".calib", ".text2",
                                               ".comment", ".symtab", ".strtab", ".shstrtab"}))
        << "the linker keeps the script's order: flash, Aux, then flash again";
    EXPECT_EQ(view.sections[6].addr, 0u);
    EXPECT_EQ(view.sections[6].type, "PROGBITS");

    // .text, .data and .text2 in the flash range; the .bss between them only widens the span.
    Region flash = h.region(0x00004000, 0x001FC000);
    EXPECT_EQ(flash.start, 0x00004000u);
    EXPECT_EQ(flash.dataSize,
              view.sections[1].size + view.sections[3].size + view.sections[5].size);
    EXPECT_EQ(flash.size, view.sections[5].addr + view.sections[5].size - 0x4000);
}

}  // namespace
}  // namespace zq::testing
