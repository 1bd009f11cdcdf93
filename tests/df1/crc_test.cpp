#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

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
    EXPECT_EQ(static_cast<std::uint8_t>(~crc8Wcdma(bytesOf(kCheck), kCheck.size())), 0xDA)
        << "the adapter stores the header check complemented";
    EXPECT_EQ(crc16Genibus(bytesOf(kCheck), kCheck.size()), 0xD64E);
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

TEST(CrcTest, ByteUpdatesAgreeWithTheWholeBuffer) {
    std::uint16_t arc = 0;
    std::uint8_t wcdma = 0;
    std::uint16_t reg = kGenibusInit;
    for (char c : kCheck) {
        auto byte = static_cast<std::uint8_t>(c);
        arc = crc16ArcUpdate(arc, byte);
        wcdma = crc8WcdmaUpdate(wcdma, byte);
        reg = crc16GenibusUpdate(reg, byte);
    }
    EXPECT_EQ(arc, 0xBB3D);
    EXPECT_EQ(wcdma, 0x25);
    EXPECT_EQ(static_cast<std::uint16_t>(~reg), 0xD64E);
    // Continuing from a partial value is how a receiver checks a frame it scans in pieces.
    EXPECT_EQ(crc16Arc(bytesOf(kCheck) + 4, 5, crc16Arc(bytesOf(kCheck), 4)), 0xBB3D);
}

TEST(CrcTest, CommandMessageCheckAndResidue) {
    const std::uint8_t header[] = {0x01, 0x00};
    EXPECT_EQ(crc16Genibus(header, 2), 0xD1C1) << "the CONNECT request is 01 00 D1 C1";

    std::vector<std::uint8_t> message{0x04, 0x00, 0x00, 0x10, 0x40, 0x00, 0x02, 0x00, 0xAB, 0xCD};
    std::uint16_t crc = crc16Genibus(message.data(), message.size());
    message.push_back(static_cast<std::uint8_t>(crc >> 8));
    message.push_back(static_cast<std::uint8_t>(crc));
    EXPECT_EQ(crc16GenibusRegister(message.data(), message.size()), kGenibusResidue);
    EXPECT_TRUE(crc16GenibusGood(message.data(), message.size()));

    for (std::size_t i = 0; i < message.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            auto corrupted = message;
            corrupted[i] ^= static_cast<std::uint8_t>(1 << bit);
            EXPECT_FALSE(crc16GenibusGood(corrupted.data(), corrupted.size()))
                << "byte " << i << " bit " << bit;
        }
    }
    EXPECT_FALSE(crc16GenibusGood(message.data(), 1)) << "too short to hold a CRC";
    EXPECT_FALSE(crc16GenibusGood(message.data(), 0));
}

}  // namespace
}  // namespace zq
