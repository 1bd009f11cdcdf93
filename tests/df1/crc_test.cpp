#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "df1/crc.h"

namespace zq {
namespace {

const std::uint8_t* bytesOf(std::string_view text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

constexpr std::string_view kCheck = "123456789";

TEST(CrcTest, CheckValuesOfTheThreeCatalogueCrcs) {
    EXPECT_EQ(crc16Arc(bytesOf(kCheck), kCheck.size()), 0xBB3D);
    EXPECT_EQ(crc8Wcdma(bytesOf(kCheck), kCheck.size()), 0x25);
    EXPECT_EQ(crc16Genibus(bytesOf(kCheck), kCheck.size()), 0xD64E);
    // Continuing from a partial value is how a receiver checks a frame it scans in pieces.
    EXPECT_EQ(crc16Arc(bytesOf(kCheck) + 4, 5, crc16Arc(bytesOf(kCheck), 4)), 0xBB3D);
}

// A CRC is linear in its input: from a zero register every byte's step is the XOR of its bits'
// steps. A table entry out of line with that is wrong, though the check strings never reach it.
TEST(CrcTest, EveryByteValueIsTheSumOfItsBits) {
    for (unsigned value = 1; value < 256; ++value) {
        std::uint16_t arc = 0, genibus = 0;
        std::uint8_t wcdma = 0;
        for (unsigned bit = 1; bit < 256; bit <<= 1) {
            if (!(value & bit)) continue;
            arc ^= crc16ArcUpdate(0, static_cast<std::uint8_t>(bit));
            wcdma ^= crc8WcdmaUpdate(0, static_cast<std::uint8_t>(bit));
            genibus ^= crc16GenibusUpdate(0, static_cast<std::uint8_t>(bit));
        }
        const auto byte = static_cast<std::uint8_t>(value);
        EXPECT_EQ(crc16ArcUpdate(0, byte), arc) << value;
        EXPECT_EQ(crc8WcdmaUpdate(0, byte), wcdma) << value;
        EXPECT_EQ(crc16GenibusUpdate(0, byte), genibus) << value;
    }
}

}  // namespace
}  // namespace zq
