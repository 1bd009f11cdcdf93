#include "df1/crc.h"

#include <array>

namespace zq {

namespace {

// Tables are built at compile time so that no start-up order can catch a receiver using an
// empty one.
template <typename T>
constexpr std::array<T, 256> reflectedTable(T polynomial) {
    std::array<T, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        T value = static_cast<T>(i);
        for (int bit = 0; bit < 8; ++bit)
            value = static_cast<T>((value & 1u) ? (value >> 1) ^ polynomial : value >> 1);
        table[i] = value;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> genibusTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        auto value = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            value =
                static_cast<std::uint16_t>((value & 0x8000u) ? (value << 1) ^ 0x1021u : value << 1);
        table[i] = value;
    }
    return table;
}

constexpr auto kArcTable = reflectedTable<std::uint16_t>(0xA001);
constexpr auto kWcdmaTable = reflectedTable<std::uint8_t>(0xD9);
constexpr auto kGenibusTable = genibusTable();

}  // namespace

std::uint16_t crc16ArcUpdate(std::uint16_t crc, std::uint8_t byte) {
    return static_cast<std::uint16_t>((crc >> 8) ^ kArcTable[(crc ^ byte) & 0xFFu]);
}

std::uint16_t crc16Arc(const std::uint8_t* data, std::size_t length, std::uint16_t crc) {
    for (std::size_t i = 0; i < length; ++i) crc = crc16ArcUpdate(crc, data[i]);
    return crc;
}

std::uint8_t crc8WcdmaUpdate(std::uint8_t crc, std::uint8_t byte) {
    return kWcdmaTable[crc ^ byte];
}

std::uint8_t crc8Wcdma(const std::uint8_t* data, std::size_t length, std::uint8_t crc) {
    for (std::size_t i = 0; i < length; ++i) crc = crc8WcdmaUpdate(crc, data[i]);
    return crc;
}

std::uint16_t crc16GenibusUpdate(std::uint16_t reg, std::uint8_t byte) {
    return static_cast<std::uint16_t>((reg << 8) ^ kGenibusTable[((reg >> 8) ^ byte) & 0xFFu]);
}

std::uint16_t crc16GenibusRegister(const std::uint8_t* data, std::size_t length,
                                   std::uint16_t reg) {
    for (std::size_t i = 0; i < length; ++i) reg = crc16GenibusUpdate(reg, data[i]);
    return reg;
}

std::uint16_t crc16Genibus(const std::uint8_t* data, std::size_t length) {
    return static_cast<std::uint16_t>(~crc16GenibusRegister(data, length));
}

bool crc16GenibusGood(const std::uint8_t* message, std::size_t length) {
    return length >= 2 && crc16GenibusRegister(message, length) == kGenibusResidue;
}

}  // namespace zq
