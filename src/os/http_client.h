#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace zq {

// What came back of one GET.
struct HttpResponse {
    // A status line came back; false when the server could not be asked (no connection, no
    // answer in time, a malformed answer).
    bool answered = false;
    int status = 0;
    // The whole body; complete only when error is empty.
    std::string body;
    // Why the exchange failed, empty when it did not.
    std::string error;

    bool complete() const { return answered && error.empty(); }
};

// A blocking HTTP GET with bounded waits, for the start-up's update check. The platform's own
// client: WinINet on Windows (the system's proxy settings), libcurl on POSIX (the proxy from
// the environment, as curl users expect).
class HttpClient {
public:
    // Each phase waits at most this long: the connection, sending the request, each wait for
    // more of the answer.
    static constexpr unsigned kConnectTimeoutMs = 3000;
    static constexpr unsigned kSendTimeoutMs = 3000;
    static constexpr unsigned kReceiveTimeoutMs = 3000;
    static constexpr unsigned kConnectRetries = 3;
    // A server that keeps the answer trickling is cut off here, whatever it sends.
    static constexpr unsigned kTransferTimeoutMs =
        kConnectTimeoutMs + kSendTimeoutMs + kReceiveTimeoutMs;
    // A version list is a few hundred bytes; a larger body is refused rather than stored.
    static constexpr std::size_t kMaxBodySize = 64 * 1024;

    virtual ~HttpClient() = default;

    // GET http://host:port/path. Redirects are not followed.
    virtual HttpResponse get(const std::string& host, unsigned port, const std::string& path) = 0;
};

// The platform's client; userAgent names the program to servers and proxies.
std::unique_ptr<HttpClient> makeHttpClient(const std::string& userAgent);

}  // namespace zq
