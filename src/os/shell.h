#pragma once

#include <filesystem>
#include <string>

namespace zq {

// Opens a web page with the desktop's default handler for the address, in a normal window,
// without waiting for the browser. False when the handler could not be started.
// Windows: ShellExecuteW. POSIX: xdg-open, started directly (no shell).
bool openWebPageWithSystem(const std::string& url);

// The folder that holds the running program (the installation's folder); empty when the
// system does not tell.
std::filesystem::path programDirectory();

// This machine's name on the network, and the name the user logged in with; empty when the
// system does not tell.
std::string stationName();
std::string loginName();

}  // namespace zq
