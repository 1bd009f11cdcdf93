#include "cli/cmd_ports.h"

#include <CLI/CLI.hpp>

#include "os/serial_ports.h"
#include "support/json_writer.h"

namespace zq::cli {

namespace {

int printPorts(CliContext& context) {
    std::vector<SerialPortInfo> ports = listSerialPorts();
    if (context.json) {
        JsonWriter json(context.out);
        json.beginObject();
        json.key("ports");
        json.beginArray();
        for (const SerialPortInfo& port : ports) {
            json.beginObject();
            json.field("name", port.name);
            json.field("description", port.description);
            json.endObject();
        }
        json.endArray();
        json.endObject();
        return kExitDone;
    }
    if (ports.empty()) context.out << "No serial ports found.\n";
    for (const SerialPortInfo& port : ports) {
        context.out << port.name;
        if (!port.description.empty()) context.out << "  " << port.description;
        context.out << '\n';
    }
    return kExitDone;
}

}  // namespace

void registerPortsCommand(CLI::App& app, CliContext& context) {
    addCommand(app, context, "ports", "List the serial devices of this machine",
               [&context] { return printPorts(context); });
}

}  // namespace zq::cli
