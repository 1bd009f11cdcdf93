#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "os/comport.h"
#include "os/line_errors.h"
#include "os/notifications.h"
#include "support/fail.h"
#include "support/vyjimka.h"

namespace zq {

namespace {

// Exception codes: the texts' distance from kExceptionStringBase.
constexpr std::uint32_t kOpenFailed = kStrPortOpenFailed - kExceptionStringBase;
constexpr std::uint32_t kBadPort = kStrPortBadParameter - kExceptionStringBase;
constexpr std::uint32_t kWriteFailed = kStrPortWriteFailed - kExceptionStringBase;
constexpr std::uint32_t kReadFailed = kStrPortReadFailed - kExceptionStringBase;

constexpr std::size_t kScratchSize = 1024;

struct Speed {
    std::uint32_t baud;
    speed_t constant;
};

constexpr Speed kSpeeds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool speedConstant(std::uint32_t baud, speed_t& constant) {
    for (const Speed& speed : kSpeeds)
        if (speed.baud == baud) {
            constant = speed.constant;
            return true;
        }
    return false;
}

// A failed system call inside open: the exception takes errno before the descriptor is closed,
// which could change it.
[[noreturn]] void throwOpenError(int fd, int error) {
    errno = error;
    CVyjimka* e = new CVyjimkaGLE(kOpenFailed);
    if (fd >= 0) ::close(fd);
    throw e;
}

void configureLine(int fd, std::uint32_t baudRate) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throwOpenError(fd, errno);
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // Non-blocking reads return EAGAIN when nothing is there, so a read of 0 means hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    speed_t speed = 0;
    if (!speedConstant(baudRate, speed)) throwOpenError(fd, EINVAL);
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        throwOpenError(fd, errno);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throwOpenError(fd, errno);
}

// Opening a tty raises DTR and RTS; the adapter wants both inactive. Pseudo-terminals have no
// modem lines and refuse the request, which is harmless.
void dropModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIC, &lines);
}

// USB serial adapters hold received bytes for up to 16 ms before handing them over, which a
// stop-and-wait protocol pays on every exchange. Drivers that know low-latency mode drop the
// delay; the others refuse the request, and the port works as it is.
void requestLowLatency(int fd) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &serial);
}

bool readLineErrorCounts(int fd, LineErrorCounts& counts) {
    serial_icounter_struct icount{};
    if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return false;
    counts.frame = static_cast<std::uint32_t>(icount.frame);
    counts.overrun = static_cast<std::uint32_t>(icount.overrun);
    counts.parity = static_cast<std::uint32_t>(icount.parity);
    counts.brk = static_cast<std::uint32_t>(icount.brk);
    counts.bufferOverrun = static_cast<std::uint32_t>(icount.buf_overrun);
    return true;
}

void signalWake(int fd) {
    if (fd < 0) return;
    std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void drainWake(int fd) {
    std::uint64_t count = 0;
    while (::read(fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

// poll() until one of the descriptors is ready; EINTR is no reason to give up.
int pollBoth(pollfd (&fds)[2]) {
    for (;;) {
        int ready = ::poll(fds, 2, -1);
        if (ready >= 0 || errno != EINTR) return ready;
    }
}

}  // namespace

// Descriptors are atomics only so that a misuse (send before open) is no data race.
struct ComPort::Native {
    std::atomic<int> fd{-1};
    std::atomic<int> rxWake{-1};  // eventfd: stopRx wakes the receive thread's poll
    std::atomic<int> txWake{-1};  // eventfd: stopTx wakes a transmit thread waiting to write
};

ComPort::Native* ComPort::createNative(const std::string&) {
    return new Native;
}

void ComPort::NativeDeleter::operator()(Native* native) const {
    delete native;
}

std::intptr_t ComPort::systemHandle() const {
    return native_->fd;
}

void ComPort::open() {
    // There are no port numbers here; what corresponds to a number out of range is no name.
    if (portName_.empty()) throw new CVyjimkaN(kBadPort);
    if (!require(native_->fd < 0, "expected state")) return;

    int fd = ::open(portName_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throwOpenError(-1, errno);
    if (!::isatty(fd)) throwOpenError(fd, ENOTTY);
    // TIOCEXCL keeps other programs from opening the device, but not a privileged one; the
    // advisory lock also stops another instance of this program running as root.
    if (::ioctl(fd, TIOCEXCL) != 0) throwOpenError(fd, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        throwOpenError(fd, errno == EWOULDBLOCK ? EBUSY : errno);
    configureLine(fd, baudRate_);
    dropModemLines(fd);
    requestLowLatency(fd);
    // What the device received before it was ours belongs to nobody.
    (void)::tcflush(fd, TCIOFLUSH);

    int rxWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (rxWake < 0) throwOpenError(fd, errno);
    int txWake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (txWake < 0) {
        int error = errno;
        ::close(rxWake);
        throwOpenError(fd, error);
    }
    native_->rxWake = rxWake;
    native_->txWake = txWake;
    native_->fd = fd;
}

void ComPort::closePort() {
    for (std::atomic<int>* fd : {&native_->fd, &native_->rxWake, &native_->txWake}) {
        int old = fd->exchange(-1);
        if (old >= 0) ::close(old);
    }
}

void ComPort::wakeRx() {
    signalWake(native_->rxWake);
}

void ComPort::wakeTx() {
    signalWake(native_->txWake);
}

// The driver keeps counting; the receive thread compares with what it saw last, so there is
// nothing to acknowledge as on Windows.
void ComPort::clearLineErrors() {}

void ComPort::receiveLoop() {
    const int fd = native_->fd;
    const int wake = native_->rxWake;
    LineErrorCounts seen;
    const bool counting = readLineErrorCounts(fd, seen);
    std::uint8_t scratch[kScratchSize];
    while (!rxStop_) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (pollBoth(fds) < 0) throw new CVyjimkaGLE(kReadFailed);
        if (rxStop_) break;
        // A wake-up left over from an earlier reception.
        if (fds[1].revents & POLLIN) drainWake(wake);

        LineErrorCounts now;
        if (counting && readLineErrorCounts(fd, now)) {
            if (std::uint32_t bits = lineErrorBits(seen, now)) postComError(bits);
            seen = now;
        }
        if (fds[0].revents & POLLNVAL) {
            errno = EBADF;
            throw new CVyjimkaGLE(kReadFailed);
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;

        std::unique_lock<TimedMutex> guard(lock_, lockLimit_);
        if (!guard.owns_lock()) throw new CVyjimkaN(0, "ComPort::rxThreadFnc() 1");
        const bool full = rxCount_ >= rxWanted_;
        std::uint8_t* target = full ? scratch : rxWrite_;
        const std::size_t room = full ? sizeof scratch : rxWanted_ - rxCount_;
        ssize_t n = ::read(fd, target, room);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        // A device that went away (an unplugged adapter, a closed pseudo-terminal master)
        // reads as end of file or EIO, for ever.
        if (n == 0) errno = EIO;
        if (n <= 0) throw new CVyjimkaGLE(kReadFailed);
        probe_.onRead();
        if (full)
            rxDropped_ += static_cast<std::uint64_t>(n);
        else
            storeReceived(static_cast<std::uint32_t>(n));
    }
}

void ComPort::writeBlock() {
    const int fd = native_->fd;
    const int wake = native_->txWake;
    const std::uint8_t* next = txData_;
    std::uint32_t left = txLength_;
    probe_.onWrite();
    while (left > 0) {
        ssize_t n = ::write(fd, next, left);
        if (n > 0) {
            next += n;
            left -= static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) {
            if (n == 0) errno = EIO;
            throw new CVyjimkaGLE(kWriteFailed);
        }
        // The driver's queue is full: wait until it takes more, or until stopTx.
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
        if (pollBoth(fds) < 0) throw new CVyjimkaGLE(kWriteFailed);
        if (fds[1].revents & POLLIN) drainWake(wake);
        if (txStop_) return;
    }
}

}  // namespace zq
