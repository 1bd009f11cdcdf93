#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "os/http_client.h"
#include "support/text.h"

namespace zq {

namespace {

std::string wininetError(DWORD code) {
    switch (code) {
    case ERROR_INTERNET_TIMEOUT: return "the server did not answer in time";
    case ERROR_INTERNET_CANNOT_CONNECT: return "cannot connect to the server";
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return "the server's name is not known";
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET: return "the server closed the connection";
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: return "the server's answer is not HTTP";
    default: return "WinINet error " + std::to_string(code);
    }
}

struct Handles {
    HINTERNET root = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    void close() {
        for (HINTERNET* handle : {&request, &connection, &root}) {
            if (*handle != nullptr) InternetCloseHandle(*handle);
            *handle = nullptr;
        }
    }
};

void setTimeout(HINTERNET handle, DWORD option, DWORD value) {
    InternetSetOptionW(handle, option, &value, sizeof value);
}

// Windows hands the root's time-outs down to its children; Wine starts each connection and
// request without any, so they are set on every handle.
void setTimeouts(HINTERNET handle, const HttpLimits& limits) {
    setTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectTimeoutMs);
    setTimeout(handle, INTERNET_OPTION_CONNECT_RETRIES, limits.connectRetries);
    setTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, limits.sendTimeoutMs);
    setTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, limits.receiveTimeoutMs);
    setTimeout(handle, INTERNET_OPTION_DATA_SEND_TIMEOUT, limits.sendTimeoutMs);
    setTimeout(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, limits.receiveTimeoutMs);
}

// Reads the body in the pieces the server sends, up to the bound.
bool readBody(HINTERNET request, const HttpLimits& limits,
              std::chrono::steady_clock::time_point deadline, HttpResponse& response) {
    char buffer[4096];
    for (;;) {
        // Each wait is bounded by the receive time-out, but a server may keep sending a
        // byte now and then.
        if (std::chrono::steady_clock::now() > deadline) {
            response.error = "the answer took longer than " +
                             std::to_string(limits.transferTimeoutMs) + " ms";
            return true;
        }
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
        if (available == 0) return true;
        DWORD wanted = available < sizeof buffer ? available : sizeof buffer;
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, wanted, &got)) return false;
        if (got == 0) return true;
        if (got > limits.maxBodySize - response.body.size()) {
            response.error = bodyTooLargeText(limits);
            return true;
        }
        response.body.append(buffer, got);
    }
}

void exchange(Handles& handles, const std::string& host, unsigned port, const std::string& path,
              const HttpLimits& limits, HttpResponse& response) {
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.transferTimeoutMs);
    handles.connection = InternetConnectW(handles.root, fromUtf8(host).c_str(),
                                          static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
    if (handles.connection == nullptr) return;
    setTimeouts(handles.connection, limits);
    const DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    handles.request = HttpOpenRequestW(handles.connection, L"GET", fromUtf8(path).c_str(),
                                       nullptr, nullptr, nullptr, flags, 0);
    if (handles.request == nullptr) return;
    setTimeouts(handles.request, limits);
    if (!HttpSendRequestW(handles.request, nullptr, 0, nullptr, 0)) return;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(handles.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr))
        return;
    response.answered = true;
    response.status = static_cast<int>(status);
    if (!readBody(handles.request, limits, deadline, response) && response.error.empty())
        response.error = wininetError(GetLastError());
}

HttpResponse getOnce(const std::string& userAgent, const HttpLimits& limits,
                     const std::string& host, unsigned port, const std::string& path) {
    HttpResponse response;
    Handles handles;
    handles.root = InternetOpenW(fromUtf8(userAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                 nullptr, nullptr, 0);
    if (handles.root == nullptr) {
        response.error = wininetError(GetLastError());
        return response;
    }
    setTimeouts(handles.root, limits);
    exchange(handles, host, port, path, limits, response);
    DWORD lastError = GetLastError();
    handles.close();
    if (!response.answered && response.error.empty()) response.error = wininetError(lastError);
    if (!response.error.empty()) response.body.clear();
    return response;
}

// What the caller and the thread of one exchange share; whoever leaves last frees it.
struct Exchange {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    HttpResponse response;
};

class WinInetHttpClient : public HttpClient {
public:
    static constexpr unsigned kGraceMs = 1000;

    WinInetHttpClient(std::string userAgent, const HttpLimits& limits)
        : userAgent_(std::move(userAgent)), limits_(limits) {}

    // Synchronous WinINet bounds each wait for the network, but not a server that keeps the
    // headers trickling, and cancelling a blocking call by closing its handle does not work
    // everywhere (Wine). So the exchange runs on a thread of its own, and the caller waits
    // for it a little longer than the exchange's own deadline, no more; a late exchange ends
    // on its own later.
    HttpResponse get(const std::string& host, unsigned port, const std::string& path) override {
        auto exchange = std::make_shared<Exchange>();
        try {
            std::thread([exchange, userAgent = userAgent_, limits = limits_, host, port, path] {
                HttpResponse response = getOnce(userAgent, limits, host, port, path);
                std::lock_guard<std::mutex> lock(exchange->mutex);
                exchange->response = std::move(response);
                exchange->done = true;
                exchange->finished.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            return getOnce(userAgent_, limits_, host, port, path);
        }
        std::unique_lock<std::mutex> lock(exchange->mutex);
        auto wait = std::chrono::milliseconds(limits_.transferTimeoutMs + kGraceMs);
        if (exchange->finished.wait_for(lock, wait, [&exchange] { return exchange->done; }))
            return std::move(exchange->response);
        HttpResponse late;
        late.error = "no answer within " +
                     std::to_string(limits_.transferTimeoutMs + kGraceMs) + " ms";
        return late;
    }

private:
    std::string userAgent_;
    HttpLimits limits_;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const std::string& userAgent,
                                           const HttpLimits& limits) {
    return std::make_unique<WinInetHttpClient>(userAgent, limits);
}

}  // namespace zq
