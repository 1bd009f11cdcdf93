#include "tools/omf_writer.h"

namespace zq {

std::string omfRecord(std::uint8_t type, std::string_view body) {
    const std::size_t length = body.size() + 1;
    std::string r;
    r.push_back(static_cast<char>(type));
    r.push_back(static_cast<char>(length & 0xFF));
    r.push_back(static_cast<char>(length >> 8));
    r += body;
    std::uint8_t sum = 0;
    for (char c : r) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    r.push_back(static_cast<char>(static_cast<std::uint8_t>(-sum)));
    return r;
}

std::string omfPedata(std::uint32_t address, std::string_view data, std::uint8_t type,
                      std::uint8_t attribute) {
    std::string body;
    body.push_back(static_cast<char>(address >> 16));
    body.push_back(static_cast<char>(address));
    body.push_back(static_cast<char>(address >> 8));
    body.push_back(static_cast<char>(attribute));
    body += data;
    return omfRecord(type, body);
}

std::string omfObject(std::uint16_t baseWord, std::string_view name, std::uint16_t offset,
                      bool negative, int typeIndexBytes) {
    std::string body(2, '\0');
    body.push_back(static_cast<char>(baseWord));
    body.push_back(static_cast<char>(baseWord >> 8));
    body.push_back(static_cast<char>(name.size()));
    body += name;
    body.push_back(static_cast<char>(offset));
    body.push_back(static_cast<char>(offset >> 8));
    body.push_back(static_cast<char>(negative ? 0x80 : 0x00));
    body += std::string(static_cast<std::size_t>(typeIndexBytes), '\x01');
    return omfRecord(0xB3, body);
}

std::string omfOther(std::uint8_t type, std::string_view body) {
    return omfRecord(type, body);
}

}  // namespace zq
