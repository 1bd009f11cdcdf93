#include "gui/sw_catalogue.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/catalogue_writer.h"
#include "support/mem_ptr.h"
#include "support/mem_source.h"

namespace zq {
namespace {

using testing::catalogueSection;
using testing::catalogueText;
using testing::takeFailures;

constexpr const char* kAccepted = "<accepted>";

class SwCatalogueTest : public testing::InTempDirTest {
protected:
    void SetUp() override {
        InTempDirTest::SetUp();
        writeImages("a");
        writeImages("b");
    }

    bool read(std::string text) {
        MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                                static_cast<std::uint32_t>(text.size())));
        return catalogue.read(source);
    }
    // The reason of a refusal, or kAccepted.
    std::string refusal(const std::string& text) {
        return read(text) ? kAccepted : catalogue.errorText();
    }

    static std::string sectionA() { return catalogueSection("SW31", "Verze 3.1", "a"); }
    static std::string sectionB() { return catalogueSection("SW30", "Verze 3.0", "b"); }

    SwCatalogue catalogue;
};

TEST_F(SwCatalogueTest, ReadsAValidCatalogue) {
    ASSERT_TRUE(read(catalogueText({sectionB(), sectionA()})));
    EXPECT_EQ(catalogue.errorText(), "");
    EXPECT_EQ(catalogue.dataVersion(), "3.1");
    ASSERT_EQ(catalogue.versionCount(), 2u);
    EXPECT_EQ(catalogue.defaultIndex(), 1);
    EXPECT_EQ(catalogue.versionName(0), "Verze 3.0");
    EXPECT_EQ(catalogue.versionId(1), "SW31");
    EXPECT_EQ(catalogue.fileName(0, 0, 0), "b_qel.bin");
    EXPECT_EQ(catalogue.fileName(1, 1, 1), "a_mub_b.bin");
    EXPECT_EQ(catalogue.fileName(1, 3, 0), "a_fut_a.bin");
    EXPECT_EQ(catalogue.fileName(1, 4, 0), "a_kaj.bin");
}

TEST_F(SwCatalogueTest, LineEndsBlanksAndEmptyLines) {
    // CR LF, lone CR and LF mixed, a CR as the very last byte, blank and TAB-indented lines,
    // and blanks at the end of a line that must not reach the value.
    std::string text =
        "\r\n  \t#!krvflashrt19\r\r\n   \t \napplswver = 2.0 \t \rdefaultsw=SW31\n"
        "[ SW31 ]\r\n\tname=Moje verze  \n";
    for (const std::string& name : testing::catalogueFiles("a")) {
        std::string key = name.substr(2, name.size() - 6);
        text += "  " + key + "=" + name + "  \r";
    }
    ASSERT_EQ(refusal(text), kAccepted);
    EXPECT_EQ(catalogue.dataVersion(), "2.0");
    EXPECT_EQ(catalogue.versionName(0), "Moje verze");
    EXPECT_EQ(catalogue.versionId(0), "SW31");
    EXPECT_EQ(catalogue.fileName(0, 2, 1), "a_vog_b.bin");
}

TEST_F(SwCatalogueTest, LineLengthLimit) {
    // The name line is the last line, so its length decides; "name=" takes 5 characters.
    const std::string section = catalogueSection("SW31", "x", "a");  // "[SW31]\nname=x\n..."
    const std::string body = catalogueText({}) + "[SW31]\n" + section.substr(14);
    auto nameLine = [](std::size_t length) { return "name=" + std::string(length - 5, 'n'); };
    const std::string tooLong = "Příliš dlouhá řádka";

    EXPECT_EQ(refusal(body + nameLine(516) + "\n"), kAccepted);
    EXPECT_EQ(catalogue.versionName(0).size(), 511u);
    EXPECT_EQ(refusal(body + nameLine(517) + "\n"), tooLong);
    EXPECT_EQ(refusal(body + nameLine(517) + "\r"), tooLong);
    // The last line of a file without a line end may hold one more.
    EXPECT_EQ(refusal(body + nameLine(517)), kAccepted);
    EXPECT_EQ(refusal(body + nameLine(518)), tooLong);
    // Leading blanks are not collected; trailing ones are, until the line ends.
    EXPECT_EQ(refusal(body + "   \t" + nameLine(516) + "\n"), kAccepted);
    EXPECT_EQ(refusal(body + nameLine(510) + std::string(7, ' ') + "\n"), tooLong);
    EXPECT_EQ(refusal(body + nameLine(510) + std::string(6, ' ') + "\n"), kAccepted);
    // Anywhere in the file, also in lines that would be refused anyway.
    EXPECT_EQ(refusal(std::string(517, '#') + "\n" + catalogueText({sectionA()})), tooLong);
}

TEST_F(SwCatalogueTest, WrongFirstLineHasNoReason) {
    EXPECT_FALSE(read("applswver=3.1\n" + catalogueText({sectionA()})));
    EXPECT_EQ(catalogue.errorText(), "");
    EXPECT_FALSE(read("#!KRVFlashRT19x\n"));
    EXPECT_EQ(catalogue.errorText(), "");
    // A UTF-8 byte order mark is part of the first line, like any other byte.
    EXPECT_FALSE(read("\xEF\xBB\xBF" + catalogueText({sectionA()})));
    EXPECT_EQ(catalogue.errorText(), "");
}

TEST_F(SwCatalogueTest, HeaderLines) {
    const std::string tail = sectionA();
    // Keys ignore case and blanks before "="; the header lines may come in either order.
    EXPECT_EQ(refusal("#!KRVFlashRT19\nDefaultSW = SW31\nAPPLSWVER=1\n" + tail), kAccepted);
    EXPECT_EQ(refusal("#!KRVFlashRT19\ndefaultsw=SW-31\napplswver=1\n" + tail),
              "Chyba na řádku \"defaultsw=SW-31\"");
    EXPECT_EQ(refusal("#!KRVFlashRT19\napplswver=  \t\ndefaultsw=SW31\n" + tail),
              "Chyba na řádku \"applswver=\"");
    EXPECT_EQ(refusal("#!KRVFlashRT19\napplswver=1\napplswver=2\ndefaultsw=SW31\n" + tail),
              "Chyba na řádku \"applswver=2\"");
    EXPECT_EQ(refusal("#!KRVFlashRT19\n#!KRVFlashRT19\n" + tail),
              "Chyba na řádku \"#!KRVFlashRT19\"");
    EXPECT_EQ(refusal("#!KRVFlashRT19\napplswver=1\n" + tail), "Chyba na řádku \"[SW31]\"");
    EXPECT_EQ(refusal(catalogueText({sectionA()}) + "applswver=2\n"),
              "Chyba na řádku \"applswver=2\"");
}

TEST_F(SwCatalogueTest, SectionLines) {
    const std::string head = catalogueText({});
    const std::string rest = catalogueSection("X", "n", "a").substr(4);  // without "[X]\n"
    EXPECT_EQ(refusal(head + "[  SW31\t]\n" + rest), kAccepted);
    EXPECT_EQ(refusal(head + "[ ]\n" + rest), "Chyba na řádku \"[ ]\"");
    EXPECT_EQ(refusal(head + "[SW 31]\n" + rest), "Chyba na řádku \"[SW 31]\"");
    EXPECT_EQ(refusal(head + "[SW31=1]\n" + rest), "Chyba na řádku \"[SW31=1]\"");
    EXPECT_EQ(refusal(head + "[SW31\n" + rest), "Chyba na řádku \"[SW31\"");
    // An "=" as the first character makes no key.
    EXPECT_EQ(refusal(head + "=SW31\n"), "Chyba na řádku \"=SW31\"");
}

TEST_F(SwCatalogueTest, LinesInsideASection) {
    const std::string head = catalogueText({}) + "[SW31]\n";
    const std::string full = catalogueSection("SW31", "Verze", "a").substr(7);  // name + files

    // Lines of a section come in any order; the name may hold "=".
    std::string reordered = full.substr(full.find('\n') + 1) + "Name=a=b\n";
    EXPECT_EQ(refusal(head + reordered), kAccepted);
    EXPECT_EQ(catalogue.versionName(0), "a=b");

    EXPECT_EQ(refusal(head + "name=A\nname=B\n"), "Příliš mnoho jmen pro 'SW31'");
    EXPECT_EQ(refusal(head + "QEL=x.bin\nqel = y.bin\n"), "Vícenasobná definice binárky pro qel");
    EXPECT_EQ(refusal(head + "name=A\nfoo=1\n"), "Chyba na řádku \"foo=1\"");
    EXPECT_EQ(refusal(head + "name=A\n[SW32]\n"), "Chyba na řádku \"[SW32]\"");
    EXPECT_EQ(refusal(head + "name=A\nqel\n"), "Chyba na řádku \"qel\"");
    // The section closed with its ninth line: a name after it is out of place.
    EXPECT_EQ(refusal(head + full + "name=Again\n"), "Chyba na řádku \"name=Again\"");
}

TEST_F(SwCatalogueTest, BlankAfterEqualsBelongsToTheFileName) {
    std::string text = catalogueText({sectionA()});
    text.replace(text.find("qel=a_qel"), 9, "qel= a_qel");
    EXPECT_EQ(refusal(text), "Soubor ' a_qel.bin' neexistuje");
}

TEST_F(SwCatalogueTest, AtMostSixtyFourVersions) {
    std::vector<std::string> sections;
    for (int i = 0; i < 64; ++i) {
        std::string id("S");
        id += std::to_string(i);
        sections.push_back(catalogueSection(id, "n", "a"));
    }
    ASSERT_EQ(refusal(catalogueText(sections, "S0")), kAccepted);
    EXPECT_EQ(catalogue.versionCount(), 64u);
    sections.push_back(catalogueSection("S64", "n", "a"));
    EXPECT_EQ(refusal(catalogueText(sections, "S0")), "Chyba na řádku \"[S64]\"");
}

TEST_F(SwCatalogueTest, FinalChecks) {
    const std::string incomplete = ".ini soubor je nekompletní";
    EXPECT_EQ(refusal(""), incomplete);
    EXPECT_EQ(refusal("\n \n\t\r\n"), incomplete);
    EXPECT_EQ(refusal("#!KRVFlashRT19\n"), incomplete);
    EXPECT_EQ(refusal("#!KRVFlashRT19\napplswver=1\n"), incomplete);
    EXPECT_EQ(refusal(catalogueText({}) + "[SW31]\nname=x\n"), incomplete);
    // The data version is not among the things that must be there.
    EXPECT_EQ(refusal("#!KRVFlashRT19\ndefaultsw=SW31\n"), "Nenalezena verze sw \"SW31\"");
    EXPECT_EQ(refusal(catalogueText({sectionA()}, "SW32")), "Nenalezena verze sw \"SW32\"");
    EXPECT_EQ(catalogue.defaultIndex(), -1);
}

TEST_F(SwCatalogueTest, DefaultIgnoresCaseAndTakesTheFirstMatch) {
    ASSERT_TRUE(read(catalogueText({sectionB(), catalogueSection("sw31", "first", "a"),
                                    catalogueSection("SW31", "second", "b")},
                                   "SW31")));
    EXPECT_EQ(catalogue.defaultIndex(), 1);
    EXPECT_EQ(catalogue.findVersion("Sw30"), 0);
    EXPECT_EQ(catalogue.findVersion("SW3"), -1);
}

TEST_F(SwCatalogueTest, MissingImageFilesInVersionUnitSideOrder) {
    // c's images are missing but for qel and mub_a, so the first missing one is mub_b;
    // version b before it is complete.
    writeImages("c");
    std::filesystem::remove(dir.path() / "c_mub_b.bin");
    std::filesystem::remove(dir.path() / "c_kaj.bin");
    std::string withC = catalogueText({sectionB(), catalogueSection("C", "c", "c")}, "C");
    EXPECT_EQ(refusal(withC), "Soubor 'c_mub_b.bin' neexistuje");
    EXPECT_EQ(catalogue.defaultIndex(), -1);

    // A directory of the name counts as present, like any path whose status can be read;
    // relative names may lead into subdirectories.
    writeImages("d", "sub");
    std::filesystem::create_directory(dir.path() / "c_mub_b.bin");
    std::filesystem::create_directory(dir.path() / "c_kaj.bin");
    EXPECT_EQ(refusal(withC), kAccepted);
    EXPECT_EQ(refusal(catalogueText({catalogueSection("D", "d", "sub/d")}, "D")), kAccepted);
}

TEST_F(SwCatalogueTest, ANulInAFileNameNeverFindsAnotherFile) {
    std::string text = catalogueText({sectionA()});
    text.replace(text.find("a_kaj.bin"), 9, std::string("a_kaj.bin\0.x", 12));
    EXPECT_FALSE(read(text));
    EXPECT_EQ(catalogue.errorText(), "Soubor 'a_kaj.bin' neexistuje");
}

TEST_F(SwCatalogueTest, ReadingAgainStartsAfresh) {
    ASSERT_TRUE(read(catalogueText({sectionA(), sectionB()})));
    EXPECT_FALSE(read(catalogueText({sectionA()}, "SW30")));
    ASSERT_TRUE(read(catalogueText({sectionB()}, "SW30", "9")));
    EXPECT_EQ(catalogue.versionCount(), 1u);
    EXPECT_EQ(catalogue.errorText(), "");
    EXPECT_EQ(catalogue.dataVersion(), "9");
}

TEST_F(SwCatalogueTest, AccessorsCheckTheirIndices) {
    ASSERT_TRUE(read(catalogueText({sectionA()})));
    EXPECT_EQ(catalogue.versionName(1), "");
    EXPECT_EQ(takeFailures(), std::vector{testing::require("correct index")});
    EXPECT_EQ(catalogue.fileName(0, 5, 0), "");
    EXPECT_EQ(takeFailures(), std::vector{testing::require("correct unit")});
    // A single processor's unit has no second side; no unit has a third.
    EXPECT_EQ(catalogue.fileName(0, 0, 1), "");
    EXPECT_EQ(catalogue.fileName(0, 1, 2), "");
    EXPECT_EQ(takeFailures(),
              (std::vector{testing::require("correct side"), testing::require("correct side")}));
    EXPECT_EQ(catalogue.fileName(0, 1, 1), "a_mub_b.bin");
}

}  // namespace
}  // namespace zq
