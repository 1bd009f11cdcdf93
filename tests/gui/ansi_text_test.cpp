#include "gui/ansi_text.h"

#include <string>

#include <gtest/gtest.h>

namespace zq {
namespace {

TEST(AnsiText, Windows1250) {
    EXPECT_EQ(windows1250ToUtf8("Verze \xE8\x65sk\xE1 \x8A\x9E\xD9\xF9"), "Verze česká ŠžŮů");
    EXPECT_EQ(windows1250ToUtf8("\x80\xA0\xFF"), "€\u00A0˙");
    // Undefined bytes keep their value as C1 controls, as Windows converts them.
    EXPECT_EQ(windows1250ToUtf8("\x81\x98"), "\u0081\u0098");
    EXPECT_EQ(windows1250ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
    EXPECT_EQ(windows1250ToUtf8(""), "");
}

TEST(AnsiText, AsciiPassesUnchanged) {
    EXPECT_EQ(ansiToUtf8("qel_31.elf = [SW31]"), "qel_31.elf = [SW31]");
    EXPECT_EQ(ansiToUtf8(""), "");
}

}  // namespace
}  // namespace zq
