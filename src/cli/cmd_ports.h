#pragma once

#include <ostream>
#include <vector>

#include "cli/cli_context.h"
#include "os/serial_ports.h"

namespace zq::cli {

// zidavuvorud-cli ports: the serial devices of this machine, one a line (name, then what the
// system says of it), each followed by a line of its USB adapter where the system knows one;
// or {"ports":[{"name":...,"description":...,"vendorId":...,"latencyMs":...}]} with --json,
// whose adapter fields are absent where unknown.
void registerPortsCommand(CLI::App& app, CliContext& context);

// The listing as the command prints it.
void writePorts(std::ostream& out, const std::vector<SerialPortInfo>& ports, bool json);

}  // namespace zq::cli
