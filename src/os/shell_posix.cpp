#include <limits.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

#include "os/shell.h"

extern char** environ;

namespace zq {

bool openWebPageWithSystem(const std::string& url) {
    // Started directly, so nothing in the address is ever read by a shell.
    std::string program = "xdg-open";
    std::vector<char*> argv{program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    // Not waited for here: the browser may stay for as long as it likes. A thread of its own
    // collects xdg-open's exit, so that no zombie is left behind.
    try {
        std::thread([pid] {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the page opens all the same, the exit is collected at the end.
    }
    return true;
}

std::filesystem::path programDirectory() {
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return program.parent_path();
}

std::string stationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string loginName() {
    // The account the program runs as; LOGNAME and the terminal's login would let a user name
    // somebody else.
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr && entry->pw_name != nullptr ? entry->pw_name : std::string();
}

}  // namespace zq
