#include <curl/curl.h>

#include <mutex>

#include "os/http_client.h"

namespace zq {

namespace {

struct Transfer {
    std::string body;
    bool tooLarge = false;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    std::size_t bytes = size * count;
    if (bytes > HttpClient::kMaxBodySize - transfer->body.size()) {
        transfer->tooLarge = true;
        return 0;  // makes curl abort the transfer
    }
    transfer->body.append(data, bytes);
    return bytes;
}

class CurlHttpClient : public HttpClient {
public:
    explicit CurlHttpClient(std::string userAgent) : userAgent_(std::move(userAgent)) {
        // Not thread-safe, and curl_easy_init would otherwise do it on first use.
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    HttpResponse get(const std::string& host, unsigned port, const std::string& path) override;

private:
    std::string userAgent_;
};

HttpResponse CurlHttpClient::get(const std::string& host, unsigned port,
                                 const std::string& path) {
    HttpResponse response;
    CURL* curl = curl_easy_init();
    if (curl == nullptr) {
        response.error = "cannot start an HTTP transfer";
        return response;
    }
    std::string url = "http://" + host + ":" + std::to_string(port) + path;
    Transfer transfer;
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent_.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    // The GUI thread may run other threads; curl must not time out by signals.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(kConnectTimeoutMs));
    // curl has no separate send and receive time-outs: a server that goes quiet for a receive
    // time-out is given up, and the whole exchange may take no longer than its three phases.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kReceiveTimeoutMs / 1000));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(kTransferTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodySize));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    response.answered = status != 0;
    response.status = static_cast<int>(status);
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        response.error = "the answer is larger than " + std::to_string(kMaxBodySize / 1024) +
                         " KiB";
    } else if (code != CURLE_OK) {
        response.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
    }
    if (response.error.empty()) response.body = std::move(transfer.body);
    return response;
}

}  // namespace

std::unique_ptr<HttpClient> makeHttpClient(const std::string& userAgent) {
    return std::make_unique<CurlHttpClient>(userAgent);
}

}  // namespace zq
