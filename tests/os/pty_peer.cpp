#include "pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace zq::testing {

PtyPeer::PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("no ptsname");
    slavePath_ = name;
}

PtyPeer::~PtyPeer() {
    closeMaster();
}

void PtyPeer::closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

void PtyPeer::write(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, 1000);
        } else {
            throw std::runtime_error("write to the pseudo-terminal master failed");
        }
    }
}

std::string PtyPeer::read(std::size_t n, std::chrono::milliseconds limit) {
    std::string bytes;
    auto due = std::chrono::steady_clock::now() + limit;
    char chunk[4096];
    while (bytes.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        ssize_t got = ::read(master_, chunk, std::min(sizeof chunk, n - bytes.size()));
        if (got > 0) bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

termios PtyPeer::slaveSettings() const {
    termios tio{};
    ::tcgetattr(master_, &tio);
    return tio;
}

}  // namespace zq::testing
