#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zq::sim {

// The simulator's end of the serial line: the master side of a pseudo-terminal whose slave the
// program opens as its serial port, or a real serial device (a null-modem cable to another
// machine). Either way a non-blocking file descriptor in raw mode.
class LineEnd {
public:
    // A new pseudo-terminal pair; name() is the slave's path.
    static std::unique_ptr<LineEnd> openPty(std::string& error);
    // A serial device at `baud` (8N1, no handshake).
    static std::unique_ptr<LineEnd> openDevice(const std::string& path, std::uint32_t baud,
                                               std::string& error);
    ~LineEnd();
    LineEnd(const LineEnd&) = delete;
    LineEnd& operator=(const LineEnd&) = delete;

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // A pty reports a hang-up while no program holds its slave open; a device never does.
    bool isPty() const { return pty_; }

    // Closing a pty's master throws away whatever the program has not read yet, so before the
    // simulator goes it waits (at most `limitMs`) until the program has taken the last reply.
    void drain(int limitMs) const;

private:
    LineEnd(int fd, std::string name, bool pty) : fd_(fd), name_(std::move(name)), pty_(pty) {}

    int fd_;
    std::string name_;
    bool pty_;
};

}  // namespace zq::sim
