#include "cli/cmd_ports.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>

#include "support/json_writer.h"

namespace zq::cli {

namespace {

std::string hexId(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

// The adapter's line: "USB 0x0403:0x6001  FTDI  FT232R USB UART  serial A50285BI  driver
// ftdi_sio  latency timer 16 ms", each piece only where it is known.
std::string adapterLine(const UsbAdapterInfo& adapter) {
    std::string line;
    auto add = [&line](const std::string& text) { line += (line.empty() ? "" : "  ") + text; };
    if (adapter.vendorId && adapter.productId)
        add("USB " + hexId(*adapter.vendorId) + ":" + hexId(*adapter.productId));
    else if (adapter.vendorId)
        add("USB vendor " + hexId(*adapter.vendorId));
    else if (adapter.productId)
        add("USB product " + hexId(*adapter.productId));
    if (adapter.manufacturer) add(*adapter.manufacturer);
    if (adapter.product) add(*adapter.product);
    if (adapter.serialNumber) add("serial " + *adapter.serialNumber);
    if (adapter.driver) add("driver " + *adapter.driver);
    if (adapter.latencyMs) add("latency timer " + std::to_string(*adapter.latencyMs) + " ms");
    return line;
}

template <typename T>
void optionalField(JsonWriter& json, const char* name, const std::optional<T>& value) {
    if (value) json.field(name, *value);
}

void writeJson(std::ostream& out, const std::vector<SerialPortInfo>& ports) {
    JsonWriter json(out);
    json.beginObject();
    json.key("ports");
    json.beginArray();
    for (const SerialPortInfo& port : ports) {
        const UsbAdapterInfo& adapter = port.adapter;
        json.beginObject();
        json.field("name", port.name);
        json.field("description", port.description);
        if (adapter.vendorId) json.field("vendorId", hexId(*adapter.vendorId));
        if (adapter.productId) json.field("productId", hexId(*adapter.productId));
        optionalField(json, "manufacturer", adapter.manufacturer);
        optionalField(json, "product", adapter.product);
        optionalField(json, "serialNumber", adapter.serialNumber);
        optionalField(json, "driver", adapter.driver);
        optionalField(json, "latencyMs", adapter.latencyMs);
        json.endObject();
    }
    json.endArray();
    json.endObject();
}

}  // namespace

void writePorts(std::ostream& out, const std::vector<SerialPortInfo>& ports, bool json) {
    if (json) {
        writeJson(out, ports);
        return;
    }
    if (ports.empty()) out << "No serial ports found.\n";
    for (const SerialPortInfo& port : ports) {
        out << port.name;
        if (!port.description.empty()) out << "  " << port.description;
        out << '\n';
        if (!port.adapter.empty()) out << "    " << adapterLine(port.adapter) << '\n';
    }
}

void registerPortsCommand(CLI::App& app, CliContext& context) {
    addCommand(app, context, "ports", "List the serial devices of this machine and their adapters",
               [&context] {
                   writePorts(context.out, listSerialPorts(), context.json);
                   return kExitDone;
               });
}

}  // namespace zq::cli
