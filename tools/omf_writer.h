#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zq {

// OMF-166 records as the XC167 tool chain writes them: type, length (u16 LE, the bytes that
// follow), body, checksum (all bytes of the record add up to 0 modulo 256).
std::string omfRecord(std::uint8_t type, std::string_view body);

// A PEDATA record (0xB9, or 0xE9) of `data` at a 24-bit address.
std::string omfPedata(std::uint32_t address, std::string_view data, std::uint8_t type = 0xB9,
                      std::uint8_t attribute = 0);

// An object record (0xB3) with one symbol entry: base word, name, offset, sign, and a type
// index of typeIndexBytes (1 or 2) bytes.
std::string omfObject(std::uint16_t baseWord, std::string_view name, std::uint16_t offset,
                      bool negative = false, int typeIndexBytes = 2);

// A record of a type the reader only checks (a module header).
std::string omfOther(std::uint8_t type = 0x02, std::string_view body = "MODULE");

}  // namespace zq
