#include "os/windows_device_ids.h"

#include <cctype>
#include <optional>
#include <vector>

namespace zq {

namespace {

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string upperCase(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = upper(c);
    return result;
}

// The four hex digits after "VID_" or "PID_", ended by the id's end or a separator.
std::optional<std::uint16_t> idAfter(std::string_view id, std::string_view tag) {
    const std::string text = upperCase(id);
    const std::size_t at = text.find(tag);
    if (at == std::string::npos || at + tag.size() + 4 > text.size()) return std::nullopt;
    const std::size_t end = at + tag.size() + 4;
    if (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
        return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = at + tag.size(); i < end; ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    return static_cast<std::uint16_t>(value);
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next - at));
        if (next == std::string_view::npos) return parts;
        at = next + 1;
    }
}

// A serial number where the instance id holds one. The USB hub driver names a device with a
// serial number after it, and one without by a made-up location id that holds '&'. The FTDI
// bus driver names each port after the serial number with the port's letter appended (A for
// the first), unless it was told to ignore serial numbers, when a location id with '&' comes.
std::optional<std::string> serialFromInstance(std::string_view instanceId) {
    const std::vector<std::string_view> parts = split(instanceId, '\\');
    if (parts.size() != 3) return std::nullopt;
    const std::string bus = upperCase(parts[0]);
    std::string_view serial;
    if (bus == "USB") {
        if (upperCase(parts[1]).find("&MI_") != std::string::npos) return std::nullopt;
        serial = parts[2];
    } else if (bus == "FTDIBUS") {
        const std::vector<std::string_view> fields = split(parts[1], '+');
        if (fields.size() != 3 || fields[2].size() < 2) return std::nullopt;
        const char letter = fields[2].back();
        if (letter < 'A' || letter > 'H') return std::nullopt;
        serial = fields[2].substr(0, fields[2].size() - 1);
    } else {
        return std::nullopt;
    }
    if (serial.empty() || serial.find('&') != std::string_view::npos) return std::nullopt;
    return std::string(serial);
}

}  // namespace

UsbAdapterInfo usbAdapterFromDeviceIds(std::string_view hardwareId, std::string_view instanceId) {
    UsbAdapterInfo adapter;
    adapter.vendorId = idAfter(hardwareId, "VID_");
    adapter.productId = idAfter(hardwareId, "PID_");
    // The FTDI bus driver writes '+' where the hub driver writes '&'.
    if (!adapter.vendorId) adapter.vendorId = idAfter(instanceId, "VID_");
    if (!adapter.productId) adapter.productId = idAfter(instanceId, "PID_");
    adapter.serialNumber = serialFromInstance(instanceId);
    return adapter;
}

std::string plainDeviceText(std::string_view text) {
    if (!text.empty() && text.front() == '@') {
        const std::size_t semicolon = text.rfind(';');
        text =
            semicolon == std::string_view::npos ? std::string_view() : text.substr(semicolon + 1);
    }
    return std::string(text);
}

}  // namespace zq
