#pragma once

#include "support/byte_source.h"
#include "support/mem_ptr.h"

namespace zq {

// A ByteSource over a copy of a view; the viewed memory must outlive the source.
class MemSource : public ByteSource {
public:
    explicit MemSource(const MemPtr& view) : view_(view) {}

    std::uint32_t remaining() const override { return view_.size() - position_; }
    bool read(void* destination, std::uint32_t n) override;
    void skipForward(std::uint32_t n) override;
    void skipBackward(std::uint32_t n) override;
    void seekFromStart(std::uint32_t position) override;
    void seekFromEnd(std::uint32_t n) override;
    std::uint32_t position() const override { return position_; }
    std::uint32_t size() const override { return view_.size(); }

private:
    MemPtr view_;
    std::uint32_t position_ = 0;
};

}  // namespace zq
