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

// Bit-by-bit forms straight from the polynomials, to catch a wrong table entry anywhere in the
// 256, which the check strings alone would not reach.
std::uint16_t slowArc(const std::vector<std::uint8_t>& data) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

std::uint8_t slowWcdma(const std::vector<std::uint8_t>& data) {
    std::uint8_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 1) ? (crc >> 1) ^ 0xD9 : crc >> 1);
    }
    return crc;
}

std::uint16_t slowGenibus(const std::vector<std::uint8_t>& data) {
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data) {
        reg ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            reg = static_cast<std::uint16_t>((reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1);
    }
    return static_cast<std::uint16_t>(~reg);
}

TEST(CrcTest, CheckValuesOfTheThreeCatalogueCrcs) {
    EXPECT_EQ(crc16Arc(bytesOf(kCheck), kCheck.size()), 0xBB3D);
    EXPECT_EQ(crc8Wcdma(bytesOf(kCheck), kCheck.size()), 0x25);
    EXPECT_EQ(static_cast<std::uint8_t>(~crc8Wcdma(bytesOf(kCheck), kCheck.size())), 0xDA)
        << "the adapter stores the header check complemented";
    EXPECT_EQ(crc16Genibus(bytesOf(kCheck), kCheck.size()), 0xD64E);
}

TEST(CrcTest, EveryByteValueMatchesTheBitwiseDefinition) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<std::uint8_t>(i * 37 + 11));
    for (std::size_t n = 0; n <= data.size(); n += 17) {
        std::vector<std::uint8_t> prefix(data.begin(), data.begin() + static_cast<long>(n));
        SCOPED_TRACE(n);
        EXPECT_EQ(crc16Arc(prefix.data(), n), slowArc(prefix));
        EXPECT_EQ(crc8Wcdma(prefix.data(), n), slowWcdma(prefix));
        EXPECT_EQ(crc16Genibus(prefix.data(), n), slowGenibus(prefix));
    }
    for (int value = 0; value < 256; ++value) {
        std::vector<std::uint8_t> one{static_cast<std::uint8_t>(value)};
        EXPECT_EQ(crc16Arc(one.data(), 1), slowArc(one)) << value;
        EXPECT_EQ(crc8Wcdma(one.data(), 1), slowWcdma(one)) << value;
        EXPECT_EQ(crc16Genibus(one.data(), 1), slowGenibus(one)) << value;
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

TEST(CrcTest, DfOneFrameExampleOfTheConnectRequest) {
    // Address 1, the CONNECT message 01 00 D1 C1, then ETX: on the wire 10 02 01 01 00 D1 C1
    // 10 03 7D B9, the CRC low byte first.
    const std::uint8_t covered[] = {0x01, 0x01, 0x00, 0xD1, 0xC1, 0x03};
    EXPECT_EQ(crc16Arc(covered, sizeof covered), 0xB97D);
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
