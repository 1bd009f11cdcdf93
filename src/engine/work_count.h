#pragma once

#include <cstdint>
#include <vector>

#include "engine/platform_list.h"
#include "engine/read_back_op.h"
#include "support/byte_source.h"

namespace zq {

class ImageReader;
class MemOp;

// The work of a burn of the loaded image, in bytes: per block of the Flash and Aux ranges, the
// block's length for its erase (Flash only), its image bytes for the writes, and the same bytes
// again for a verify's read-back. A long erase then moves the count as the daemon reports its
// percent, where a count of written bytes alone would stand still for seconds.
std::uint64_t burnWork(const ImageReader& reader, const PlatformEntry& platform, bool verify);
// The same for an image not yet loaded (B's, while A's is burnt): 0 when it does not load or fit,
// as then the burn of B fails before any of its work.
std::uint64_t burnWork(ByteSource& image, PlId plID, const PlatformEntry& platform, bool verify);
// The work of a check: every byte it reads once.
std::uint64_t readWork(const std::vector<MemorySpan>& spans);
// The same for a check of images not yet loaded: the blocks of those that load and fit, joined.
std::uint64_t readWork(const std::vector<ByteSource*>& images, PlId plID,
                       const PlatformEntry& platform);

// How far a burn or check request has come over every processor and pass. The total is set
// once for the request; the operations take turns, and what the earlier ones did is kept.
class WorkCount {
public:
    void clear() { *this = WorkCount{}; }
    void begin(std::uint64_t total);
    // From now on `operation` does the work. Called before the operation is reset.
    void follow(const MemOp* operation);
    std::uint64_t done() const;
    std::uint64_t total() const { return total_; }

private:
    std::uint64_t total_ = 0;
    std::uint64_t banked_ = 0;
    const MemOp* operation_ = nullptr;
};

}  // namespace zq
