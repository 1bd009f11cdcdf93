#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <cwchar>
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
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                        INTERNET_FLAG_NO_UI;
    handles.request = HttpOpenRequestW(handles.connection, L"GET", fromUtf8(path).c_str(), nullptr,
                                       nullptr, nullptr, flags, 0);
    if (handles.request == nullptr) return;
    setTimeouts(handles.request, limits);
    // One request, one connection: a connection kept alive would go to WinINet's pool, and the
    // pool's collector thread would still be running when the program ends (under Wine the
    // end of a process with a thread left over is a race that SIGKILL may win).
    static const wchar_t kClose[] = L"Connection: close\r\n";
    if (!HttpSendRequestW(handles.request, kClose, static_cast<DWORD>(wcslen(kClose)), nullptr, 0))
        return;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(handles.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr))
        return;
    response.answered = true;
    response.status = static_cast<int>(status);
    if (!readBody(handles.request, limits, deadline, response) && response.error.empty())
        response.error = wininetError(GetLastError());
}

// What the caller and the thread of one exchange share; whoever leaves last frees it.
struct Exchange {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    HttpResponse response;
    // The exchange's root handle while it is open; closing it ends every call under it.
    HINTERNET root = nullptr;
    bool cancelled = false;
};

HttpResponse getOnce(const std::string& userAgent, const HttpLimits& limits,
                     const std::string& host, unsigned port, const std::string& path,
                     Exchange& shared) {
    HttpResponse response;
    Handles handles;
    handles.root = InternetOpenW(fromUtf8(userAgent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                 nullptr, 0);
    if (handles.root == nullptr) {
        response.error = wininetError(GetLastError());
        return response;
    }
    setTimeouts(handles.root, limits);
    {
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.root = handles.root;
    }
    exchange(handles, host, port, path, limits, response);
    DWORD lastError = GetLastError();
    {
        // A caller that gave up has closed the root, and with it every handle under it.
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.root = nullptr;
        if (!shared.cancelled) handles.close();
    }
    if (!response.answered && response.error.empty()) response.error = wininetError(lastError);
    if (!response.error.empty()) response.body.clear();
    return response;
}

class WinInetHttpClient : public HttpClient {
public:
    static constexpr unsigned kGraceMs = 1000;

    WinInetHttpClient(std::string userAgent, const HttpLimits& limits)
        : userAgent_(std::move(userAgent)), limits_(limits) {}

    // Synchronous WinINet bounds each wait for the network, but not a server that keeps the
    // headers trickling. So the exchange runs on a thread of its own, and the caller waits for
    // it a little longer than the exchange's own deadline; then it closes the exchange's
    // handles, which ends a blocked call, and waits one grace period more. The thread is
    // joined whenever it ends in that time: a thread left inside WinINet when the program
    // ends makes that end a race (under Wine, SIGKILL wins it now and then). Only a thread
    // that does not end even then is left behind.
    HttpResponse get(const std::string& host, unsigned port, const std::string& path) override {
        auto exchange = std::make_shared<Exchange>();
        std::thread worker;
        try {
            worker =
                std::thread([exchange, userAgent = userAgent_, limits = limits_, host, port, path] {
                    HttpResponse response = getOnce(userAgent, limits, host, port, path, *exchange);
                    std::lock_guard<std::mutex> lock(exchange->mutex);
                    exchange->response = std::move(response);
                    exchange->done = true;
                    exchange->finished.notify_all();
                });
        } catch (const std::system_error&) {
            Exchange alone;
            return getOnce(userAgent_, limits_, host, port, path, alone);
        }
        const unsigned boundMs = limits_.transferTimeoutMs + kGraceMs;
        std::unique_lock<std::mutex> lock(exchange->mutex);
        auto done = [&exchange] { return exchange->done; };
        bool ended = exchange->finished.wait_for(lock, std::chrono::milliseconds(boundMs), done);
        if (!ended) {
            exchange->cancelled = true;
            if (exchange->root != nullptr) InternetCloseHandle(exchange->root);
            ended = exchange->finished.wait_for(lock, std::chrono::milliseconds(kGraceMs), done);
        }
        HttpResponse response = std::move(exchange->response);
        const bool cancelled = exchange->cancelled;
        lock.unlock();
        if (ended)
            worker.join();
        else
            worker.detach();
        if (cancelled) {
            response = HttpResponse();
            response.error = "no answer within " + std::to_string(boundMs) + " ms";
        }
        return response;
    }

private:
    std::string userAgent_;
    HttpLimits limits_;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const std::string& userAgent, const HttpLimits& limits) {
    return std::make_unique<WinInetHttpClient>(userAgent, limits);
}

}  // namespace zq
