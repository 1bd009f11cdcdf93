#include "os/http_client.h"

namespace zq {

std::string bodyTooLargeText(const HttpLimits& limits) {
    return "the answer is larger than " + std::to_string(limits.maxBodySize / 1024) + " KiB";
}

}  // namespace zq
