#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace zq::sim::testing {

// kvsb-sim itself (KVSB_SIM_PATH), started with its standard output on a pipe: the first line
// names the pty. Killed at destruction if it is still running.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; }
    void signal(int sig);
    // Waits at most 10 s for the exit; gives the exit code, or -1.
    int wait();
    // Everything it printed after the first line, up to its exit.
    std::string rest();

private:
    std::string readLine();

    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
};

}  // namespace zq::sim::testing
