#include <windows.h>

#include "os/serial_ports.h"
#include "support/text.h"

namespace zq {

// A port exists when its DOS device name does; the target names the driver's device
// (\Device\Serial0, \Device\VCP0, ...). Nothing is opened, so a port in use is listed too.
std::vector<SerialPortInfo> listSerialPorts() {
    std::vector<SerialPortInfo> ports;
    for (unsigned number = 1; number <= 16 && ports.size() < kMaxSerialPorts; ++number) {
        std::string name = comPortName(number);
        wchar_t target[512] = {};
        if (QueryDosDeviceW(fromUtf8(name).c_str(), target, 512) == 0) continue;
        ports.push_back({name, toUtf8(target)});
    }
    return ports;
}

}  // namespace zq
