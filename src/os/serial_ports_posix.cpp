#include "os/serial_ports_posix.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <tuple>

namespace zq {

namespace fs = std::filesystem;

namespace {

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

std::vector<SerialPortInfo> listSerialPortsUnder(const fs::path& dev, const fs::path& sysTty) {
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
        ports.push_back({(dev / name).string(), description});
    }
    return ports;
}

std::vector<SerialPortInfo> listSerialPorts() {
    return listSerialPortsUnder("/dev", "/sys/class/tty");
}

}  // namespace zq
