#include <gtest/gtest.h>

#include "support/string_table.h"
#include "support/text.h"

namespace zq {
namespace {

TEST(Text, Utf8RoundTripsThroughWideStrings) {
    const std::string czech = "Příliš žluťoučký kůň úpěl ďábelské ódy";
    EXPECT_EQ(toUtf8(fromUtf8(czech)), czech);
    EXPECT_EQ(fromUtf8("ř"), std::wstring(1, static_cast<wchar_t>(0x0159)));
    const std::string astral = "\xF0\x9F\x9A\x82";  // U+1F682, a surrogate pair on Windows
    EXPECT_EQ(toUtf8(fromUtf8(astral)), astral);
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_FALSE(isValidUtf8("\xE8\xE1"));         // "čá" in Windows-1250
    EXPECT_FALSE(isValidUtf8("\xC0\x80"));         // overlong NUL
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(isValidUtf8("abc\xC5"));          // cut sequence
    EXPECT_TRUE(isValidUtf8("abc \xEF\xBF\xBD"));  // a genuine U+FFFD is valid
    EXPECT_EQ(toUtf8(fromUtf8("a\xE8z")), "a\xEF\xBF\xBDz");
}

TEST(Text, PrefixCountsCharactersNotBytes) {
    EXPECT_EQ(utf8Prefix("čřž", 2), "čř");
    EXPECT_EQ(utf8Prefix("ab", 5), "ab");
    EXPECT_EQ(utf8Prefix("", 3), "");
}

TEST(StringTable, AnIdWithoutATextGivesAnEmptyOne) {
    EXPECT_STREQ(loadString(kStrOpen - 1), "");
    EXPECT_STREQ(loadString(9999), "");
}

}  // namespace
}  // namespace zq
