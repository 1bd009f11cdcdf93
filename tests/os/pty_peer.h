#pragma once

#include <termios.h>

#include <chrono>
#include <string>
#include <string_view>

namespace zq::testing {

// The far end of a pseudo-terminal: the port under test opens slavePath(), the test reads and
// writes the master. The master is non-blocking; reads and writes wait with poll().
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // Writes all bytes (the slave side must be open).
    void write(std::string_view bytes);
    // Reads until n bytes have come or the limit has passed; returns what came.
    std::string read(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The slave's settings, as the port left them (the master answers for its slave).
    termios slaveSettings() const;
    // Like unplugging the device: the slave reads EIO from now on.
    void closeMaster();

private:
    int master_ = -1;
    std::string slavePath_;
};

}  // namespace zq::testing
