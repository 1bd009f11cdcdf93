#include "sim/serve.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>

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
    SimTime lastSent_ = 0;
    bool hungUp_ = false;
};

void Server::flush() {
    while (!pending_.empty()) {
        ssize_t n = write(line_.fd(), pending_.data(), pending_.size());
        if (n > 0) {
            pending_.erase(pending_.begin(), pending_.begin() + n);
            lastSent_ = clock_.now();
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
    const timespec noWait{0, 0};
    while (gStop == 0) {
        sim_.advance(clock_.now());
        // Read the clock again: the bytes leave now, after whatever the due actions cost.
        Bytes out = sim_.takeOutput(clock_.now());
        pending_.insert(pending_.end(), out.begin(), out.end());
        if (hungUp_) pending_.clear();  // sent into an unplugged line
        flush();
        SimTime t = clock_.now();
        if (pending_.empty() && sim_.finished(t)) return;

        std::optional<SimTime> deadline = sim_.nextDeadline();
        pollfd pfd{line_.fd(), static_cast<short>(POLLIN | (pending_.empty() ? 0 : POLLOUT)), 0};
        if (hungUp_) {
            SimTime wait = deadline ? std::max<SimTime>(0, *deadline - t) : kHangupPoll;
            timespec ts = toTimespec(std::min(wait, kHangupPoll));
            ppoll(nullptr, 0, &ts, &waitMask);
            hungUp_ = false;  // look again; readAll finds out whether it still is
            readAll();
            continue;
        }
        int ready = 0;
        // A sleep cannot end within a few microseconds of its deadline (wake-up latency, even
        // with the smallest timer slack): the last stretch is spun, looking at the line without
        // blocking so that a byte from the PC is still taken when it comes. Likewise, on
        // request, right after a reply left: the PC's answer is then taken as it arrives
        // rather than a wake-up later, which the line model would count as the PC's delay.
        std::optional<SimTime> spinUntil;
        if (deadline && *deadline - t <= config_.spinMargin)
            spinUntil = *deadline;
        else if (t - lastSent_ < config_.inputSpin)
            spinUntil = std::min(lastSent_ + config_.inputSpin,
                                 deadline ? *deadline - config_.spinMargin
                                          : std::numeric_limits<SimTime>::max());
        if (spinUntil) {
            while (gStop == 0 && clock_.now() < *spinUntil) {
                ready = ppoll(&pfd, 1, &noWait, &waitMask);
                if (ready != 0) break;
                // The program's threads and the kernel's pty worker may be woken on this
                // processor; they must not wait for the spin to end.
                sched_yield();
            }
        } else {
            SimTime wait = deadline ? *deadline - t - config_.spinMargin : -1;
            timespec ts = toTimespec(wait);
            ready = ppoll(&pfd, 1, wait < 0 ? nullptr : &ts, &waitMask);
        }
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

    // The default timer slack lets every sleep end up to 50 us late; a paced line needs the
    // wake-ups where it asked for them.
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

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
