#include "os/serial_ports_posix.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <tuple>

namespace zq {

namespace fs = std::filesystem;

namespace {

constexpr unsigned kMaxLatencyMs = 255;  // the FTDI timer is one byte

// USB adapters first (the programming adapter is one), then other named devices, then the
// built-in ports; by number within each kind.
int kindRank(const std::string& name) {
    if (name.rfind("ttyUSB", 0) == 0) return 0;
    if (name.rfind("ttyACM", 0) == 0) return 1;
    if (name.rfind("ttyS", 0) == 0) return 3;
    return 2;
}

std::tuple<int, std::string, unsigned long> sortKey(const std::string& name) {
    std::size_t digits = name.find_last_not_of("0123456789") + 1;
    unsigned long number = digits < name.size() ? std::stoul(name.substr(digits)) : 0;
    return {kindRank(name), name.substr(0, digits), number};
}

std::string readFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A sysfs attribute as text: its first line without trailing blanks; absent when the file is
// missing or says nothing.
std::optional<std::string> readText(const fs::path& file) {
    std::string line = readFirstLine(file);
    line.erase(line.find_last_not_of(" \t\r") + 1);
    if (line.empty()) return std::nullopt;
    return line;
}

// A number of at most maxDigits digits in the base; anything else is no number.
std::optional<unsigned> readNumber(const fs::path& file, int base, std::size_t maxDigits) {
    std::optional<std::string> text = readText(file);
    if (!text || text->size() > maxDigits) return std::nullopt;
    unsigned value = 0;
    for (char c : *text) {
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : base;
        if (digit >= base) return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return value;
}

std::optional<std::uint16_t> readUsbId(const fs::path& file) {
    std::optional<unsigned> id = readNumber(file, 16, 4);
    if (!id) return std::nullopt;
    return static_cast<std::uint16_t>(*id);
}

// The tty's name in sysfs for a port name: the name itself (ttyUSB0, or a link that a test or a
// udev rule made in a tty's name), else the name of the device the path leads to, as for the
// links of /dev/serial/by-id.
std::optional<std::string> ttyName(const fs::path& sysTty, const std::string& portName) {
    auto known = [&](const fs::path& path) -> std::optional<std::string> {
        std::string name = path.filename().string();
        std::error_code error;
        if (name.empty() || name == "." || name == ".." || !fs::is_directory(sysTty / name, error))
            return std::nullopt;
        return name;
    };
    const fs::path path(portName);
    if (std::optional<std::string> name = known(path)) return name;
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    if (error) return std::nullopt;
    return known(target);
}

// The USB device above a tty's device: ttyUSB's device is the usb-serial port, under the USB
// interface, under the device; ttyACM's is the interface itself. The device is the first folder
// up that has an idVendor, within sysfs.
std::optional<fs::path> usbDeviceOf(const fs::path& sys, const fs::path& ttyDevice) {
    std::error_code error;
    const fs::path root = fs::canonical(sys, error);
    if (error) return std::nullopt;
    fs::path at = fs::canonical(ttyDevice, error);
    if (error) return std::nullopt;
    for (int level = 0; level < 4 && at != root && at.has_relative_path(); ++level) {
        const auto [rootEnd, atEnd] = std::mismatch(root.begin(), root.end(), at.begin(), at.end());
        if (rootEnd != root.end()) return std::nullopt;
        if (fs::is_regular_file(at / "idVendor", error)) return at;
        at = at.parent_path();
    }
    return std::nullopt;
}

// The driver's name, from the device's sysfs link ("ftdi_sio", "cdc_acm", "serial8250").
// Since Linux 6.5 built-in ports sit on a generic serial-base driver called "port", which says
// nothing to the operator.
std::string driverName(const fs::path& sysTty, const std::string& name) {
    std::error_code error;
    fs::path driver = fs::read_symlink(sysTty / name / "device" / "driver", error);
    if (error || driver.filename() == "port") return {};
    return driver.filename().string();
}

// The 8250 driver creates ttyS0 to ttyS31 whether a UART is there or not; an empty one reports
// the type PORT_UNKNOWN (0), as TIOCGSERIAL would.
bool hasUart(const fs::path& sysTty, const std::string& name) {
    std::string type = readFirstLine(sysTty / name / "type");
    return !type.empty() && type != "0";
}

// /dev/serial/by-id names each USB serial device after its maker, model and serial number.
std::map<std::string, std::string> namesById(const fs::path& dev) {
    std::map<std::string, std::string> names;
    std::error_code error;
    fs::path byId = dev / "serial" / "by-id";
    for (const auto& entry : fs::directory_iterator(byId, error)) {
        std::error_code linkError;
        fs::path target = fs::read_symlink(entry.path(), linkError);
        if (linkError) continue;
        names[target.filename().string()] = entry.path().filename().string();
    }
    return names;
}

}  // namespace

UsbAdapterInfo usbAdapterInfoUnder(const fs::path& sys, const std::string& portName) {
    const fs::path sysTty = sys / "class" / "tty";
    UsbAdapterInfo adapter;
    const std::optional<std::string> name = ttyName(sysTty, portName);
    if (!name) return adapter;
    const fs::path device = sysTty / *name / "device";
    // The FTDI driver keeps the timer on the usb-serial port, in ms.
    adapter.latencyMs = readNumber(device / "latency_timer", 10, 3);
    if (adapter.latencyMs > kMaxLatencyMs) adapter.latencyMs.reset();
    const std::optional<fs::path> usb = usbDeviceOf(sys, device);
    if (!usb) return adapter;
    adapter.vendorId = readUsbId(*usb / "idVendor");
    adapter.productId = readUsbId(*usb / "idProduct");
    adapter.manufacturer = readText(*usb / "manufacturer");
    adapter.product = readText(*usb / "product");
    adapter.serialNumber = readText(*usb / "serial");
    const std::string driver = driverName(sysTty, *name);
    if (!driver.empty()) adapter.driver = driver;
    return adapter;
}

std::vector<SerialPortInfo> listSerialPortsUnder(const fs::path& dev, const fs::path& sys) {
    const fs::path sysTty = sys / "class" / "tty";
    std::map<std::string, std::string> byId = namesById(dev);
    std::vector<std::string> names;
    for (const auto& [device, id] : byId) names.push_back(device);

    std::error_code error;
    for (const auto& entry : fs::directory_iterator(sysTty, error)) {
        std::string name = entry.path().filename().string();
        bool usb = name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
        bool builtIn = name.rfind("ttyS", 0) == 0 && hasUart(sysTty, name);
        if ((usb || builtIn) && !byId.count(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return sortKey(a) < sortKey(b); });

    std::vector<SerialPortInfo> ports;
    for (const std::string& name : names) {
        if (ports.size() == kMaxSerialPorts) break;
        std::error_code missing;
        if (!fs::exists(dev / name, missing)) continue;
        auto id = byId.find(name);
        std::string description = id != byId.end() ? id->second : driverName(sysTty, name);
        const std::string path = (dev / name).string();
        ports.push_back({path, description, usbAdapterInfoUnder(sys, path)});
    }
    return ports;
}

fs::path sysfsRoot() {
    const char* root = std::getenv("ZQ_SYSFS_ROOT");
    return root != nullptr && *root != '\0' ? fs::path(root) : fs::path("/sys");
}

std::vector<SerialPortInfo> listSerialPorts() {
    return listSerialPortsUnder("/dev", sysfsRoot());
}

UsbAdapterInfo usbAdapterInfo(const std::string& portName) {
    return usbAdapterInfoUnder(sysfsRoot(), portName);
}

}  // namespace zq
