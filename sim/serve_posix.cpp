#include "sim/serve.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>

#include "sim/line_end.h"
#include "sim/simulator.h"

namespace zq::sim {

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void onStopSignal(int) {
    gStop = 1;
}

// While no program holds the pty's slave open the master reports a hang-up at once on every
// poll; the loop then looks again at this pace instead of spinning.
constexpr SimTime kHangupPoll = millis(20);

class Clock {
public:
    SimTime now() const {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

timespec toTimespec(SimTime us) {
    if (us < 0) us = 0;
    return timespec{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000};
}

class Server {
public:
    Server(const SimConfig& config, LineEnd& line, std::ostream* trace)
        : config_(config), line_(line), sim_(config, trace) {}

    void run(const sigset_t& waitMask);
    Simulator& sim() { return sim_; }
    SimTime now() const { return clock_.now(); }

private:
    void flush();
    void readAll();

    const SimConfig& config_;
    LineEnd& line_;
    Simulator sim_;
    Clock clock_;
    Bytes pending_;
    bool hungUp_ = false;
};

void Server::flush() {
    while (!pending_.empty()) {
        ssize_t n = write(line_.fd(), pending_.data(), pending_.size());
        if (n > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        // Nobody on the other end: what the adapter sends into an unplugged line is lost.
        pending_.clear();
    }
}

void Server::readAll() {
    std::uint8_t buffer[4096];
    for (;;) {
        ssize_t n = read(line_.fd(), buffer, sizeof buffer);
        if (n > 0) {
            hungUp_ = false;
            sim_.input(buffer, static_cast<std::size_t>(n), clock_.now());
            continue;
        }
        // A serial device without data gives 0 rather than EAGAIN (VMIN 0, VTIME 0).
        if (n == 0 || errno == EAGAIN || errno == EINTR) return;
        // EIO: a pty whose slave nobody holds open; the PC has closed the line.
        if (!hungUp_) sim_.hangup(clock_.now());
        hungUp_ = true;
        return;
    }
}

void Server::run(const sigset_t& waitMask) {
    while (gStop == 0) {
        SimTime t = clock_.now();
        sim_.advance(t);
        Bytes out = sim_.takeOutput(t);
        pending_.insert(pending_.end(), out.begin(), out.end());
        if (hungUp_) pending_.clear();  // sent into an unplugged line
        flush();
        if (pending_.empty() && sim_.finished(t)) return;

        SimTime wait = -1;
        if (auto deadline = sim_.nextDeadline()) wait = std::max<SimTime>(0, *deadline - t);
        pollfd pfd{line_.fd(), static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
        if (hungUp_) {
            SimTime nap = wait < 0 ? kHangupPoll : std::min(wait, kHangupPoll);
            timespec ts = toTimespec(nap);
            ppoll(nullptr, 0, &ts, &waitMask);
            hungUp_ = false;  // look again; readAll finds out whether it still is
            readAll();
            continue;
        }
        timespec ts = toTimespec(wait);
        int ready = ppoll(&pfd, 1, wait < 0 ? nullptr : &ts, &waitMask);
        if (ready <= 0) continue;
        if (pfd.revents & (POLLIN | POLLHUP | POLLERR)) readAll();
    }
}

}  // namespace

int serve(const SimConfig& config, std::ostream& out, std::ostream& err) {
    std::string error;
    std::unique_ptr<LineEnd> line = config.device.empty()
                                        ? LineEnd::openPty(error)
                                        : LineEnd::openDevice(config.device, config.baud, error);
    if (!line) {
        err << "kvsb-sim: " << error << '\n';
        return 2;
    }
    std::ofstream traceFile;
    if (!config.tracePath.empty()) {
        traceFile.open(config.tracePath, std::ios::trunc);
        if (!traceFile) {
            err << "kvsb-sim: cannot write " << config.tracePath << '\n';
            return 2;
        }
    }
    if (!config.link.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(config.link, ec)) std::filesystem::remove(config.link, ec);
        std::filesystem::create_symlink(line->name(), config.link, ec);
        if (ec) {
            err << "kvsb-sim: cannot link " << config.link << ": " << ec.message() << '\n';
            return 2;
        }
    }

    // The stop signals are blocked except while the loop waits, so a signal can never slip in
    // between the check of the flag and the wait.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t block, waitMask;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    out << line->name() << std::endl;

    Server server(config, *line, traceFile.is_open() ? &traceFile : nullptr);
    server.run(waitMask);
    line->drain(1000);

    int code = 0;
    if (!config.dumpDir.empty() && !server.sim().writeDump(config.dumpDir, error)) {
        err << "kvsb-sim: " << error << '\n';
        code = 1;
    }
    if (config.summary) out << server.sim().summary(server.now()) << std::flush;
    if (!config.link.empty()) {
        std::error_code ec;
        std::filesystem::remove(config.link, ec);
    }
    return code;
}

}  // namespace zq::sim
