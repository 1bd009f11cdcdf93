#include "image/elf_image_reader.h"

#include <gtest/gtest.h>

#include <tuple>

#include <functional>

#include "common/recording_failure_handler.h"
#include "image/elf_writer.h"
#include "image/reader_harness.h"

namespace zq::testing {
namespace {

constexpr const char* kBadHeader = "Chyba pri cteni ELF hlavicky";

class ElfReaderTest : public ContractTest {
protected:
    ReaderHarness h{std::make_unique<ElfImageReader>()};

    // Two data sections around a .bss-like one, and _start.
    static ElfWriter typical() {
        ElfWriter w;
        w.text(".text", 0x00004000, pattern(0x100))
            .bss(".bss", 0x00004100, 0x80)
            .text(".data", 0x00004200, pattern(0x40, 0x55))
            .symbol("main", 0x00004010)
            .symbol("_start", 0x00004000);
        return w;
    }
};

TEST_F(ElfReaderTest, AcceptsWhatItNeedNotLookAt) {
    std::string f = typical().build();
    setSectionField(f, 2, ShField::Size, 0x01000000u);    // .bss-like: no bytes in the file
    setSectionField(f, 0, ShField::Offset, 0xFFFFFFF0u);  // the null section is never read
    ASSERT_TRUE(h.load(f, true)) << h.errorText();
    EXPECT_EQ(h.reader().entryAddress(), 0x00004000u);
}

// The typical image made malformed in one place each; only the embedded PowerPC flavour loads.
TEST_F(ElfReaderTest, MalformedFilesAreRefusedWithWhatWasWrong) {
    const ElfWriter t = typical();
    const std::string file = t.build();
    const std::uint32_t shstr = t.shstrtabIndex(), str = t.strtabIndex(), sym = t.symtabIndex();
    auto writer = [](const std::function<void(ElfWriter&)>& change) {
        ElfWriter w = typical();
        change(w);
        return w.build();
    };
    auto edit = [&file](const std::function<void(std::string&)>& change) {
        std::string f = file;
        change(f);
        return f;
    };
    auto notInFile = [](std::uint32_t index) {
        return [index](std::string& f) {
            setSectionField(f, index, ShField::Type, ElfWriter::kNoBits);
            setSectionField(f, index, ShField::Size, 0x7FFFFFFFu);
        };
    };
    auto section = [](std::uint32_t n) {
        return "Chyba pri cteni hlavicky " + std::to_string(n) + ". sekce";
    };
    const std::string shstrtab = "Chyba pri cteni .shstrtab",
                      noSymtab = "Nenalezena sekce .strtab a/nebo .symtab";
    const std::uint32_t symbolsPresent = static_cast<std::uint32_t>(
        (file.size() - getSectionField(file, sym, ShField::Offset)) / 16);
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"another ABI", writer([](ElfWriter& w) { w.flags = 0x80000001u; }), kBadHeader},
        {"another machine", writer([](ElfWriter& w) { w.machine = 3; }), kBadHeader},
        {"no executable", writer([](ElfWriter& w) { w.type = 1; }), kBadHeader},
        {"little-endian", edit([](std::string& f) {
             std::swap(f[16], f[17]);  // e_type as a little-endian writer puts it
             std::swap(f[18], f[19]);
             f[5] = 1;
         }),
         kBadHeader},
        {"bad magic", edit([](std::string& f) { f[1] = 'e'; }), kBadHeader},
        {"cut in the header", edit([](std::string& f) { f.resize(51); }), kBadHeader},
        {"e_shoff at the end",
         edit([](std::string& f) { setBe(f, 32, static_cast<std::uint32_t>(f.size())); }),
         kBadHeader},
        {"e_shentsize 64", edit([](std::string& f) { setBe(f, 46, 64, 2); }), kBadHeader},
        {"more headers announced than the file holds",
         edit([&](std::string& f) { setBe(f, 48, shstr + 4, 2); }), section(shstr + 1)},
        {"a section starting at the end of the file", edit([](std::string& f) {
             setSectionField(f, 3, ShField::Offset, static_cast<std::uint32_t>(f.size()));
         }),
         section(3)},
        {"data running past the end of the file", edit([](std::string& f) {
             setSectionField(f, 1, ShField::Size, static_cast<std::uint32_t>(f.size()));
         }),
         section(1)},
        {"a data size that wraps",
         edit([](std::string& f) { setSectionField(f, 1, ShField::Size, 0xFFFFFFF0u); }),
         section(1)},
        {"two data sections sharing a byte",
         writer([](ElfWriter& w) { w.text(".x", 0x000040FF, pattern(2)); }), section(4)},
        {"data running past the top of the address space",
         writer([](ElfWriter& w) { w.text(".x", 0xFFFFFFF0u, pattern(0x20)); }), section(4)},
        {"e_shstrndx = e_shnum", edit([&](std::string& f) { setBe(f, 50, shstr + 1, 2); }),
         shstrtab},
        {"a section-name table not in the file", edit(notInFile(shstr)), shstrtab},
        {"sh_name at the end of its table", edit([&](std::string& f) {
             setSectionField(f, 1, ShField::Name, getSectionField(f, shstr, ShField::Size));
         }),
         shstrtab},
        {"sh_name that wraps",
         edit([](std::string& f) { setSectionField(f, 1, ShField::Name, 0xFFFFFFFFu); }), shstrtab},
        {"a name not terminated in its table", edit([&](std::string& f) {
             f[getSectionField(f, shstr, ShField::Offset) +
               getSectionField(f, shstr, ShField::Size) - 1] = 'x';
         }),
         shstrtab},
        {"st_name beyond its table",
         edit([&](std::string& f) { setBe(f, symbolOffset(f, sym, 2), 0x10000); }),
         "Chyba pri cteni .strtab"},
        {"a symbol-name table not in the file", edit(notInFile(str)), "Chyba pri cteni .strtab"},
        {"no .symtab", writer([](ElfWriter& w) { w.withSymtab = false; }), noSymtab},
        {"no .strtab", writer([](ElfWriter& w) { w.withStrtab = false; }), noSymtab},
        {"symbols of 24 bytes", writer([](ElfWriter& w) { w.symtabEntsize = 24; }),
         "Velikost zaznamu v .symtab je 24, ocekavano 16"},
        {"a symbol table longer than the file: refused at its first missing entry",
         edit([&](std::string& f) {
             setSectionField(f, sym, ShField::Type, ElfWriter::kNoBits);
             setSectionField(f, sym, ShField::Size, 0xFFFFFFF0u);
         }),
         "Chyba pri cteni " + std::to_string(symbolsPresent) + ". zaznamu v .symtab"},
    };
    for (const auto& [what, malformed, message] : cases) {
        SCOPED_TRACE(what);
        h.expectRefused(malformed, message);
    }
}

TEST_F(ElfReaderTest, EntrySymbolIsRequiredOnlyWhenAsked) {
    ElfWriter w;
    w.text(".text", 0x4000, pattern(16)).symbol("main", 0x4000);
    EXPECT_TRUE(h.load(w.build(), false)) << h.errorText();
    EXPECT_FALSE(h.reader().hasEntry());
    EXPECT_EQ(h.region(0, 0x10000), (Region{0x4000, 16, 16}));

    EXPECT_FALSE(h.load(w.build(), true));
    EXPECT_EQ(h.errorText(), "Nenalezen symbol _start");

    w.symbol("_start", 0x4008).symbol("_start", 0x4004);
    ASSERT_TRUE(h.load(w.build(), true)) << h.errorText();
    EXPECT_TRUE(h.reader().hasEntry());
    EXPECT_EQ(h.reader().entryAddress(), 0x4008u) << "the first _start counts";
}

TEST_F(ElfReaderTest, FindRegionSpansWholeSectionsInsideTheRange) {
    ElfWriter w;
    w.text(".a", 0x1000, pattern(0x100))
        .bss(".bss", 0x1100, 0x100)
        .text(".b", 0x1200, pattern(0x80))
        .section({".comment", ElfWriter::kProgBits, 0, 0, "toolchain 1.0", 0})
        .section({".debug_info", ElfWriter::kProgBits, 0, 0x1000, pattern(0x20), 0})
        .text(".empty", 0x1180, "")
        .text(".c", 0x2000, pattern(0x10))
        .symbol("_start", 0x1000);
    ASSERT_TRUE(h.load(w.build())) << h.errorText();

    EXPECT_EQ(h.region(0x1000, 0x1000), (Region{0x1000, 0x280, 0x180}))
        << "a .bss-like section between two data sections counts in size only";
    EXPECT_EQ(h.region(0, 0xFFFFFFFF), (Region{0x1000, 0x1010, 0x190}))
        << "unallocated sections at address 0 are no data of the image";
    EXPECT_EQ(h.region(0x1001, 0x2000), (Region{0x1200, 0xE10, 0x90}))
        << "a range that cuts the first section begins at the next one";
    EXPECT_EQ(h.region(0x1000, 0x1FF), (Region{0x1000, 0x100, 0x100}))
        << "a range that cuts the second section ends after the first";
    EXPECT_EQ(h.region(0x1010, 0x10), (Region{0, 0, 0}));
    EXPECT_EQ(h.region(0x3000, 0x1000), (Region{0, 0, 0}));
    EXPECT_EQ(h.region(0x1000, 0), (Region{0, 0, 0}));
}

TEST_F(ElfReaderTest, SectionsListedOutOfAddressOrderAreAllFound) {
    // Flash, then an Aux range, then flash again: a scan in table order that stops at the
    // first section outside the range would never see .text2.
    ElfWriter w;
    w.text(".text", 0x00004000, pattern(0x200))
        .text(".aux", 0x80500000, pattern(0x20))
        .text(".text2", 0x00010000, pattern(0x300, 9))
        .symbol("_start", 0x4000);
    ASSERT_TRUE(h.load(w.build())) << h.errorText();
    EXPECT_EQ(h.region(0x00004000, 0x001FC000), (Region{0x4000, 0xC300, 0x500}));
    EXPECT_EQ(h.pieceSizes(0x4000, 0xC300), (std::vector<std::uint32_t>{496, 16, 496, 272}));
    EXPECT_EQ(h.region(0x80500000, 0x10000), (Region{0x80500000, 0x20, 0x20}));
}

TEST_F(ElfReaderTest, ReadsSectionsInPiecesOfAtMostMaxLength) {
    ElfWriter w;
    const std::string a = pattern(1000), b = pattern(20, 3);
    w.text(".a", 0x8000, a).bss(".bss", 0x8400, 0x10).text(".b", 0x9000, b);
    ASSERT_TRUE(h.load(w.build())) << h.errorText();

    EXPECT_EQ(h.read(0x8000, 0x1014), (std::vector<Piece>{{0x8000, a.substr(0, 496)},
                                                          {0x8000 + 496, a.substr(496, 496)},
                                                          {0x8000 + 992, a.substr(992)},
                                                          {0x9000, b}}));

    EXPECT_EQ(h.pieceSizes(0x8000, 1000), (std::vector<std::uint32_t>{496, 496, 8}))
        << "the next section starts beyond the range";
    EXPECT_EQ(h.pieceSizes(0x9000, 20, 7), (std::vector<std::uint32_t>{7, 7, 6}));

    EXPECT_TRUE(h.read(0x8001, 99).empty()) << "a read must start at a section";
    EXPECT_EQ(takeFailures(),
              (std::vector<RecordedFailure>{explicitFailure("cteni nezacina na zacatku sekce")}));
}

TEST_F(ElfReaderTest, DataMayReachTheTopOfTheAddressSpaceAndSectionsMayTouch) {
    ElfWriter w;
    w.text(".reset", 0xFFFFFF00u, pattern(0x100)).text(".a", 0x1000, pattern(0x100));
    w.text(".b", 0x1100, pattern(2));
    ASSERT_TRUE(h.load(w.build())) << h.errorText();
    EXPECT_EQ(h.region(0xFFF40000u, 0x000C0000u), (Region{0xFFFFFF00u, 0x100, 0x100}));
    EXPECT_EQ(h.region(0xFFF40000u, 0x000BFFFFu), (Region{0, 0, 0}));
    EXPECT_EQ(h.pieceSizes(0xFFFFFF00u, 0x100), (std::vector<std::uint32_t>{0x100}));
    EXPECT_EQ(h.region(0x1000, 0x102), (Region{0x1000, 0x102, 0x102}));
}

TEST_F(ElfReaderTest, BlockAcrossABoundary) {
    ElfWriter w;
    w.text(".a", 0x1000, pattern(0x100)).text(".b", 0x2000, pattern(0x10));
    ASSERT_TRUE(h.load(w.build())) << h.errorText();
    std::uint32_t start = 0, size = 0;
    EXPECT_TRUE(h.reader().findBlockAcross(0x1080, start, size));
    EXPECT_EQ((std::pair{start, size}), (std::pair{0x1000u, 0x100u}));
    // Starting or ending at the boundary is not across it.
    for (std::uint32_t boundary : {0x1000u, 0x1100u, 0x1800u, 0u})
        EXPECT_FALSE(h.reader().findBlockAcross(boundary, start, size)) << boundary;
}

TEST_F(ElfReaderTest, ReloadStartsAfresh) {
    ASSERT_TRUE(h.load(typical().build(), true));
    ElfWriter bad = typical();
    bad.flags = 0;
    EXPECT_FALSE(h.load(bad.build(), true));
    EXPECT_FALSE(h.reader().hasEntry());
    EXPECT_TRUE(h.read(0x4000, 0x100).empty()) << "nothing is left of the earlier image";
    takeFailures();
    ElfWriter other;
    other.text(".x", 0x20000, pattern(8));
    ASSERT_TRUE(h.load(other.build()));
    EXPECT_EQ(h.region(0, 0xFFFFFFFF), (Region{0x20000, 8, 8}));
}

}  // namespace
}  // namespace zq::testing
