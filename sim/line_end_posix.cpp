#include "sim/line_end.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zq::sim {

namespace {

std::string systemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

speed_t speedFor(std::uint32_t baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        default:
            return B921600;
    }
}

bool makeRaw(int fd, speed_t speed) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

}  // namespace

std::unique_ptr<LineEnd> LineEnd::openPty(std::string& error) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0) {
        error = systemError("posix_openpt");
        return nullptr;
    }
    if (grantpt(master) != 0 || unlockpt(master) != 0) {
        error = systemError("grantpt/unlockpt");
        close(master);
        return nullptr;
    }
    const char* slave = ptsname(master);
    if (slave == nullptr) {
        error = systemError("ptsname");
        close(master);
        return nullptr;
    }
    std::string name = slave;
    // Raw from the start, so that a program which does not set the line up itself still gets
    // every byte unchanged and no echo.
    int probe = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe < 0 || !makeRaw(probe, B921600)) {
        error = systemError("setting up " + name);
        if (probe >= 0) close(probe);
        close(master);
        return nullptr;
    }
    close(probe);
    return std::unique_ptr<LineEnd>(new LineEnd(master, name, true));
}

std::unique_ptr<LineEnd> LineEnd::openDevice(const std::string& path, std::uint32_t baud,
                                             std::string& error) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = systemError(path);
        return nullptr;
    }
    if (!makeRaw(fd, speedFor(baud))) {
        error = systemError("setting up " + path);
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<LineEnd>(new LineEnd(fd, path, false));
}

void LineEnd::drain(int limitMs) const {
    if (!pty_) {
        tcdrain(fd_);
        return;
    }
    int slave = open(name_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) return;
    // Bytes may still be on their way into the slave's queue, so only two empty looks in a row
    // count.
    int empty = 0;
    for (int waited = 0; waited < limitMs && empty < 2; waited += 10) {
        int queued = 0;
        if (ioctl(slave, FIONREAD, &queued) != 0) break;
        empty = queued == 0 ? empty + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(slave);
}

LineEnd::~LineEnd() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace zq::sim
