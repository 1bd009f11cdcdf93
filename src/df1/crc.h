#pragma once

#include <cstddef>
#include <cstdint>

namespace zq {

// The three checks of the serial line. Each is table-driven and comes in two forms: a one-byte
// update for receivers that check as they scan, and a whole-buffer form.

// CRC-16/ARC (reflected 0xA001, initial 0, no final XOR): the DF1 frame check between the PC
// and the adapter. "123456789" gives 0xBB3D.
std::uint16_t crc16ArcUpdate(std::uint16_t crc, std::uint8_t byte);
std::uint16_t crc16Arc(const std::uint8_t* data, std::size_t length, std::uint16_t crc = 0);

// CRC-8/WCDMA (reflected 0xD9, initial 0, no final XOR): the adapter packet's header check,
// which the adapter stores complemented. "123456789" gives 0x25.
std::uint8_t crc8WcdmaUpdate(std::uint8_t crc, std::uint8_t byte);
std::uint8_t crc8Wcdma(const std::uint8_t* data, std::size_t length, std::uint8_t crc = 0);

// CRC-16/GENIBUS (0x1021 not reflected, initial 0xFFFF, result complemented): the check of
// every command message, stored most significant byte first. "123456789" gives 0xD64E.
inline constexpr std::uint16_t kGenibusInit = 0xFFFF;
// What the register holds after a good message including its two CRC bytes.
inline constexpr std::uint16_t kGenibusResidue = 0x1D0F;

// One step of the register, without the final complement.
std::uint16_t crc16GenibusUpdate(std::uint16_t reg, std::uint8_t byte);
std::uint16_t crc16GenibusRegister(const std::uint8_t* data, std::size_t length,
                                   std::uint16_t reg = kGenibusInit);
// The value to store behind a message of this length.
std::uint16_t crc16Genibus(const std::uint8_t* data, std::size_t length);
// True when a message that ends in its two CRC bytes checks (the register ends at the residue).
bool crc16GenibusGood(const std::uint8_t* message, std::size_t length);

}  // namespace zq
