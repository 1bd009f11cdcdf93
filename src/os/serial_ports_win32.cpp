#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "os/serial_ports.h"
#include "os/windows_device_ids.h"
#include "support/text.h"

namespace zq {

namespace {

// GUID_DEVCLASS_PORTS and DEVPKEY_Device_BusReportedDeviceDesc, spelt out: the headers define
// them only with INITGUID, in one translation unit of the program.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

constexpr DWORD kMaxText = 32768;
constexpr DWORD kMaxDeviceId = 200;      // MAX_DEVICE_ID_LEN of cfgmgr32.h
constexpr unsigned kMaxLatencyMs = 255;  // the FTDI timer is one byte

// Closes a key when it goes out of scope, so every early return releases what was opened.
class Key {
public:
    Key() = default;
    explicit Key(HKEY handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~Key() {
        if (handle_ != nullptr) RegCloseKey(handle_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return handle_; }
    bool open(HKEY parent, const std::wstring& path) {
        if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &handle_) == ERROR_SUCCESS)
            return true;
        handle_ = nullptr;
        return false;
    }

private:
    HKEY handle_ = nullptr;
};

// Everything the system says of one device of the Ports class, in UTF-8; empty: not said.
struct PortDevice {
    unsigned number = 0;     // of the COM port it names
    std::string instanceId;  // FTDIBUS\VID_0403+PID_6001+A50285BIA\0000
    std::string hardwareId;  // the first, most specific one: FTDIBUS\COMPORT&VID_0403&PID_6001
    std::string friendlyName, manufacturer, product, service;
    std::optional<unsigned> latencyMs;
};

// The text of a string or multi-string (its first string) of at most kMaxText bytes; any other
// type, or a text that changed while it was read, counts as none.
std::string textOf(const std::wstring& buffer, DWORD type, DWORD bytes) {
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ) return {};
    const std::size_t chars = std::min<std::size_t>(bytes / sizeof(wchar_t), buffer.size());
    return plainDeviceText(toUtf8(std::wstring(buffer.c_str(), wcsnlen(buffer.c_str(), chars))));
}

std::string registryText(HKEY key, const wchar_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        size > kMaxText)
        return {};
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return {};
    return textOf(buffer, type, size);
}

// The FTDI driver keeps the timer as a DWORD among the device's parameters; a value of another
// type or size, or beyond what the chip holds, says nothing.
std::optional<unsigned> registryLatency(HKEY parameters) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(parameters, L"LatencyTimer", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value || value > kMaxLatencyMs)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

bool namesPort(HKEY parameters, unsigned number) {
    return comPortNumber(registryText(parameters, L"PortName")) == number;
}

std::string deviceText(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD size = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
    if (size == 0 || size > kMaxText) return {};
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), size, &size))
        return {};
    return textOf(buffer, type, size);
}

// The product's own name as its USB descriptor gives it (Windows 7 and later).
std::string busReportedName(HDEVINFO set, SP_DEVINFO_DATA& device) {
    DEVPROPTYPE type = 0;
    std::wstring buffer(256, L'\0');
    DWORD size = 0;
    if (!SetupDiGetDevicePropertyW(set, &device, &kBusReportedDeviceDesc, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()),
                                   static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), &size, 0) ||
        type != DEVPROP_TYPE_STRING)
        return {};
    return textOf(buffer, REG_SZ, size);
}

// The present devices of the Ports class, as Device Manager lists them, with the port each
// names.
std::vector<PortDevice> presentPortDevices() {
    std::vector<PortDevice> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        Key parameters(
            SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
        if (parameters.get() == nullptr) continue;
        PortDevice port;
        port.number = comPortNumber(registryText(parameters.get(), L"PortName"));
        if (port.number == 0) continue;
        wchar_t instance[kMaxDeviceId + 1] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, kMaxDeviceId, nullptr))
            port.instanceId = toUtf8(instance);
        port.hardwareId = deviceText(set, device, SPDRP_HARDWAREID);
        port.friendlyName = deviceText(set, device, SPDRP_FRIENDLYNAME);
        port.manufacturer = deviceText(set, device, SPDRP_MFG);
        port.service = deviceText(set, device, SPDRP_SERVICE);
        port.product = busReportedName(set, device);
        port.latencyMs = registryLatency(parameters.get());
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

template <typename Visit>
void forEachSubkey(HKEY key, Visit&& visit) {
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        const LONG rc = RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) return;
        if (rc == ERROR_SUCCESS && visit(std::wstring(name, length))) return;
    }
}

// The device tree in the registry, where SetupAPI finds no such port: Wine's SetupAPI may list
// nothing for a port, and a port of another class (a virtual pair, say) still has its
// parameters here. A device unplugged long ago may still name a COM number; SetupAPI, asked
// first, lists only present ones. Each device instance is Enum\<bus>\<device>\<instance>, and its
// "Device Parameters" name its port.
std::optional<PortDevice> findInEnumKey(unsigned number) {
    Key enumKey;
    if (!enumKey.open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Enum")) return std::nullopt;
    std::optional<PortDevice> found;
    forEachSubkey(enumKey.get(), [&](const std::wstring& bus) {
        Key busKey;
        if (!busKey.open(enumKey.get(), bus)) return false;
        forEachSubkey(busKey.get(), [&](const std::wstring& id) {
            Key idKey;
            if (!idKey.open(busKey.get(), id)) return false;
            forEachSubkey(idKey.get(), [&](const std::wstring& instance) {
                Key device, parameters;
                if (!device.open(idKey.get(), instance) ||
                    !parameters.open(device.get(), L"Device Parameters") ||
                    !namesPort(parameters.get(), number))
                    return false;
                PortDevice port;
                port.number = number;
                port.instanceId = toUtf8(bus + L"\\" + id + L"\\" + instance);
                port.hardwareId = registryText(device.get(), L"HardwareID");
                port.friendlyName = registryText(device.get(), L"FriendlyName");
                port.manufacturer = registryText(device.get(), L"Mfg");
                port.service = registryText(device.get(), L"Service");
                port.latencyMs = registryLatency(parameters.get());
                found = port;
                return true;
            });
            return found.has_value();
        });
        return found.has_value();
    });
    return found;
}

std::optional<PortDevice> findPortDevice(const std::vector<PortDevice>& present, unsigned number) {
    if (number == 0) return std::nullopt;
    for (const PortDevice& device : present)
        if (device.number == number) return device;
    return findInEnumKey(number);
}

// Only a device with a USB vendor id is an adapter; a built-in port (ACPI\PNP0501) is listed
// as it always was.
UsbAdapterInfo adapterOf(const PortDevice& device) {
    UsbAdapterInfo adapter = usbAdapterFromDeviceIds(device.hardwareId, device.instanceId);
    if (!adapter.vendorId) return {};
    auto known = [](const std::string& text) {
        return text.empty() ? std::nullopt : std::optional<std::string>(text);
    };
    adapter.manufacturer = known(device.manufacturer);
    adapter.product = known(device.product);
    adapter.driver = known(device.service);
    adapter.latencyMs = device.latencyMs;
    return adapter;
}

}  // namespace

// A port exists when its DOS device name does; the target names the driver's device
// (\Device\Serial0, \Device\VCP0, ...). Nothing is opened, so a port in use is listed too. A
// port that a present device names is listed as well: Wine knows no DOS name for a port mapped
// after its start, and Windows numbers adapters beyond COM16.
std::vector<SerialPortInfo> listSerialPorts() {
    const std::vector<PortDevice> present = presentPortDevices();
    std::map<unsigned, std::string> targets;
    for (unsigned number = 1; number <= 16; ++number) {
        wchar_t target[512] = {};
        if (QueryDosDeviceW(fromUtf8(comPortName(number)).c_str(), target, 512) != 0)
            targets[number] = toUtf8(target);
    }
    for (const PortDevice& device : present) targets.emplace(device.number, std::string());

    std::vector<SerialPortInfo> ports;
    for (const auto& [number, target] : targets) {
        if (ports.size() == kMaxSerialPorts) break;
        SerialPortInfo port{comPortName(number), target};
        if (std::optional<PortDevice> device = findPortDevice(present, number)) {
            port.adapter = adapterOf(*device);
            // An adapter's own name says more than the driver's device object.
            if (!device->friendlyName.empty() && (!port.adapter.empty() || target.empty()))
                port.description = device->friendlyName;
        }
        ports.push_back(port);
    }
    return ports;
}

UsbAdapterInfo usbAdapterInfo(const std::string& portName) {
    std::optional<PortDevice> device =
        findPortDevice(presentPortDevices(), comPortNumber(portName));
    return device ? adapterOf(*device) : UsbAdapterInfo{};
}

}  // namespace zq
