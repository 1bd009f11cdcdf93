#include <windows.h>
#include <wininet.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
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
    case ERROR_INTERNET_INVALID_SERVER_RESPONSE: return "the server's answer is not HTTP";
    default: return "WinINet error " + std::to_string(code);
    }
}

// Synchronous WinINet bounds each wait for the network, but not a server that keeps sending
// a byte now and then. Closing the root handle from another thread is the documented way to
// cancel a blocking call; every child handle is closed with it.
class Watchdog {
public:
    Watchdog(HINTERNET root, unsigned milliseconds)
        : thread_([this, root, milliseconds] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return stopped_; })) {
                  fired_ = true;
                  InternetCloseHandle(root);
              }
          }) {}
    ~Watchdog() { stop(); }

    // Returns true when the watchdog closed the handles.
    bool stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        done_.notify_all();
        if (thread_.joinable()) thread_.join();
        return fired_;
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool stopped_ = false;
    bool fired_ = false;
    std::thread thread_;
};

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

// Reads the body in the pieces the server sends, up to the bound.
bool readBody(HINTERNET request, HttpResponse& response) {
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
        if (available == 0) return true;
        DWORD wanted = available < sizeof buffer ? available : sizeof buffer;
        DWORD got = 0;
        if (!InternetReadFile(request, buffer, wanted, &got)) return false;
        if (got == 0) return true;
        if (got > HttpClient::kMaxBodySize - response.body.size()) {
            response.error = "the answer is larger than " +
                             std::to_string(HttpClient::kMaxBodySize / 1024) + " KiB";
            return true;
        }
        response.body.append(buffer, got);
    }
}

void exchange(Handles& handles, const std::string& host, unsigned port, const std::string& path,
              HttpResponse& response) {
    handles.connection = InternetConnectW(handles.root, fromUtf8(host).c_str(),
                                          static_cast<INTERNET_PORT>(port), nullptr, nullptr,
                                          INTERNET_SERVICE_HTTP, 0, 0);
    if (handles.connection == nullptr) return;
    const DWORD flags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                        INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    handles.request = HttpOpenRequestW(handles.connection, L"GET", fromUtf8(path).c_str(),
                                       nullptr, nullptr, nullptr, flags, 0);
    if (handles.request == nullptr || !HttpSendRequestW(handles.request, nullptr, 0, nullptr, 0))
        return;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoW(handles.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr))
        return;
    response.answered = true;
    response.status = static_cast<int>(status);
    if (!readBody(handles.request, response) && response.error.empty())
        response.error = wininetError(GetLastError());
}

class WinInetHttpClient : public HttpClient {
public:
    explicit WinInetHttpClient(std::string userAgent) : userAgent_(std::move(userAgent)) {}

    HttpResponse get(const std::string& host, unsigned port, const std::string& path) override {
        HttpResponse response;
        Handles handles;
        handles.root = InternetOpenW(fromUtf8(userAgent_).c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                     nullptr, nullptr, 0);
        if (handles.root == nullptr) {
            response.error = wininetError(GetLastError());
            return response;
        }
        setTimeout(handles.root, INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs);
        setTimeout(handles.root, INTERNET_OPTION_CONNECT_RETRIES, kConnectRetries);
        setTimeout(handles.root, INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs);
        setTimeout(handles.root, INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs);
        setTimeout(handles.root, INTERNET_OPTION_DATA_SEND_TIMEOUT, kSendTimeoutMs);
        setTimeout(handles.root, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, kReceiveTimeoutMs);

        Watchdog watchdog(handles.root, kTransferTimeoutMs);
        exchange(handles, host, port, path, response);
        DWORD lastError = GetLastError();
        if (watchdog.stop()) {
            handles = Handles{};  // closed with the root
            response.error = "the exchange took longer than " +
                             std::to_string(kTransferTimeoutMs / 1000) + " s";
        } else {
            handles.close();
            if (!response.answered && response.error.empty())
                response.error = wininetError(lastError);
        }
        if (!response.error.empty()) response.body.clear();
        return response;
    }

private:
    std::string userAgent_;
};

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const std::string& userAgent) {
    return std::make_unique<WinInetHttpClient>(userAgent);
}

}  // namespace zq
