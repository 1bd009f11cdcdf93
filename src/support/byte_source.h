#pragma once

#include <cstdint>

#include "support/root_object.h"

namespace zq {

// A readable stream of bytes with a position (0 <= position <= size). Image readers, the
// catalogue and the daemon images read memory and files alike through it.
class ByteSource : public RootObject {
public:
    virtual std::uint32_t remaining() const = 0;
    // Copies n bytes at the position and moves past them. False when the n bytes could not
    // all be delivered (a contract failure beyond the end, or a file that ended early); the
    // undelivered part of the destination is then zero.
    virtual bool read(void* destination, std::uint32_t n) = 0;
    virtual void skipForward(std::uint32_t n) = 0;
    virtual void skipBackward(std::uint32_t n) = 0;
    virtual void seekFromStart(std::uint32_t position) = 0;
    virtual void seekFromEnd(std::uint32_t n) = 0;
    virtual std::uint32_t position() const = 0;
    virtual std::uint32_t size() const = 0;
};

}  // namespace zq
