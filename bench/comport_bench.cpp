// The serial port's costs on a pseudo-terminal: the processor time of an open port that
// receives nothing, and the latency from a byte written on the far side to its WM_COM_RXDATA
// on the consumer's thread.
//     comport_bench idle [SECONDS]      (default 10)
//     comport_bench latency [ROUNDS]    (default 10000)
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "os/comport.h"
#include "os/notifications.h"
#include "support/vyjimka.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Pty {
    int master = -1;
    std::string slave;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("posix_openpt");
            std::exit(2);
        }
        slave = ptsname(master);
    }
    ~Pty() { close(master); }
};

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// As the DF1 receiver runs it: reception in chunk mode for the port's whole life.
int idle(double seconds) {
    Pty pty;
    zq::NotificationQueue queue;
    zq::ScopedNotificationPoster installed(queue);
    zq::ComPort port(pty.slave, zq::kComPortBaudRate);
    port.open();
    std::vector<std::uint8_t> buffer(2040);
    port.startRx(buffer.data(), 2040, zq::RxMode::EveryChunk);

    double cpuBefore = cpuSeconds();
    auto wallBefore = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double cpu = cpuSeconds() - cpuBefore;
    double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();

    port.stopRx();
    port.stopTx();
    std::printf("idle: %.1f s wall, %.6f s CPU (user+system), %.4f%% of one core\n", wall, cpu,
                100.0 * cpu / wall);
    return 0;
}

int latency(int rounds) {
    Pty pty;
    zq::NotificationQueue queue;
    zq::ScopedNotificationPoster installed(queue);
    zq::ComPort port(pty.slave, zq::kComPortBaudRate);
    port.open();
    std::vector<std::uint8_t> buffer(2040);
    port.startRx(buffer.data(), 2040, zq::RxMode::EveryChunk);

    const int warmUp = 200;
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < warmUp + rounds; ++i) {
        std::uint8_t byte = static_cast<std::uint8_t>(i);
        auto sent = Clock::now();
        if (write(pty.master, &byte, 1) != 1) {
            std::perror("write");
            return 2;
        }
        zq::Notification n = queue.wait();
        auto received = Clock::now();
        if (n.message != zq::WM_COM_RXDATA || n.wParam != 1 || buffer[0] != byte) {
            std::fprintf(stderr, "unexpected notification %u %ld\n", n.message,
                         static_cast<long>(n.wParam));
            return 2;
        }
        port.resetRx();
        if (i >= warmUp)
            micros.push_back(std::chrono::duration<double, std::micro>(received - sent).count());
    }
    port.stopRx();
    port.stopTx();

    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
    };
    double sum = 0;
    for (double m : micros) sum += m;
    std::printf(
        "latency over %d round trips: median %.1f us, p90 %.1f us, p99 %.1f us, "
        "mean %.1f us, max %.1f us\n",
        rounds, at(0.5), at(0.9), at(0.99), sum / micros.size(), micros.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = argc > 1 ? argv[1] : "";
    try {
        if (what == "idle") return idle(argc > 2 ? std::atof(argv[2]) : 10.0);
        if (what == "latency") return latency(argc > 2 ? std::atoi(argv[2]) : 10000);
    } catch (zq::CVyjimka* e) {
        std::fprintf(stderr, "%s\n", e->text().c_str());
        e->release();
        return 1;
    }
    std::fprintf(stderr, "usage: comport_bench idle [SECONDS] | latency [ROUNDS]\n");
    return 2;
}
