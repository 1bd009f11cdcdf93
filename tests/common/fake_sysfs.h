#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace zq::testing {

// A USB serial adapter as sysfs shows it; an empty field is a file that is not there.
struct FakeUsbAdapter {
    std::string idVendor = "0403";
    std::string idProduct = "6001";
    std::string manufacturer = "FTDI";
    std::string product = "FT232R USB UART";
    std::string serial = "A50285BI";
    std::string driver = "ftdi_sio";
    std::string latencyTimer = "16";
    // cdc_acm's layout: the tty's device is the USB interface itself, without a timer.
    bool acm = false;
};

inline void writeSysfsFile(const std::filesystem::path& file, const std::string& text) {
    if (text.empty()) return;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
}

// Adds tty NAME to the sysfs tree at SYS as the kernel lays out a usb-serial port: the USB device
// (1-N, with its ids and strings), its interface (1-N:1.0), the usb-serial port under it (the
// tty's device, with the driver and the latency timer), and /sys/class/tty/NAME leading there.
inline void addUsbSerialTty(const std::filesystem::path& sys, const std::string& name,
                            const FakeUsbAdapter& adapter = {}) {
    namespace fs = std::filesystem;
    // Each adapter on a port of its own of the root hub: 1-1, 1-2, ...
    std::size_t ttys = 0;
    std::error_code none;
    for (auto it = fs::directory_iterator(sys / "class/tty", none); it != fs::directory_iterator();
         ++it)
        ++ttys;
    const std::string usb = "1-" + std::to_string(ttys + 1);
    const fs::path device = sys / "devices/pci0000:00/0000:00:14.0/usb1" / usb;
    const fs::path interface = device / (usb + ":1.0");
    const fs::path port = adapter.acm ? interface : interface / name;
    writeSysfsFile(device / "idVendor", adapter.idVendor);
    writeSysfsFile(device / "idProduct", adapter.idProduct);
    writeSysfsFile(device / "manufacturer", adapter.manufacturer);
    writeSysfsFile(device / "product", adapter.product);
    writeSysfsFile(device / "serial", adapter.serial);
    writeSysfsFile(port / "latency_timer", adapter.latencyTimer);
    fs::create_directories(port / "tty" / name);
    if (!adapter.driver.empty())
        fs::create_symlink(fs::relative(sys / "bus/usb-serial/drivers" / adapter.driver, port),
                           port / "driver");
    fs::create_symlink("../..", port / "tty" / name / "device");
    fs::create_directories(sys / "class/tty");
    fs::create_symlink(fs::relative(port / "tty" / name, sys / "class/tty"),
                       sys / "class/tty" / name);
}

}  // namespace zq::testing
