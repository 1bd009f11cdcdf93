#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "common/catalogue_writer.h"
#include "gui/ansi_text.h"
#include "gui/sw_catalogue.h"
#include "support/mem_ptr.h"
#include "support/mem_source.h"

namespace zq {
namespace {

TEST(AnsiTextPosix, Utf8OrElseWindows1250) {
    EXPECT_EQ(ansiToUtf8("Verze česká"), "Verze česká");
    EXPECT_EQ(ansiToUtf8("Verze \xE8\x65sk\xE1"), "Verze česká");
    // One byte that is not UTF-8 sends the whole text through Windows-1250.
    EXPECT_EQ(ansiToUtf8("ž \xE8"), "Ĺľ č");
}

class CatalogueDecodingTest : public testing::InTempDirTest {};

TEST_F(CatalogueDecodingTest, NamesFromEitherEncoding) {
    writeImages("a");
    dir.write("soubor_\xC4\x8D.bin", "x");  // "soubor_č.bin"
    std::string text =
        testing::catalogueText({testing::catalogueSection("SW1", "Verze \xE8\x65sk\xE1", "a"),
                                testing::catalogueSection("SW2", "Verze česká ž", "a")},
                               "SW1");
    text.replace(text.rfind("a_kaj.bin"), 9, "soubor_\xE8.bin");
    MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                            static_cast<std::uint32_t>(text.size())));
    SwCatalogue catalogue;
    ASSERT_TRUE(catalogue.read(source)) << catalogue.errorText();
    EXPECT_EQ(catalogue.versionName(0), "Verze česká");
    EXPECT_EQ(catalogue.versionName(1), "Verze česká ž");
    EXPECT_EQ(catalogue.fileName(1, 4, 0), "soubor_č.bin");
}

TEST_F(CatalogueDecodingTest, MessagesCarryTheDecodedLine) {
    std::string text = "#!KRVFlashRT19\napplswver=1\nn\xE1zev=x\n";
    MemSource source(MemPtr(reinterpret_cast<std::uint8_t*>(text.data()),
                            static_cast<std::uint32_t>(text.size())));
    SwCatalogue catalogue;
    EXPECT_FALSE(catalogue.read(source));
    EXPECT_EQ(catalogue.errorText(), "Chyba na řádku \"název=x\"");
}

}  // namespace
}  // namespace zq
