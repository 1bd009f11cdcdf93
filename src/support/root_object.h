#pragma once

namespace zq {

// Common base of the support library's classes (buffers, readers, the failure handler).
class RootObject {
public:
    RootObject() = default;
    RootObject(const RootObject&) = default;
    RootObject& operator=(const RootObject&) = default;
    virtual ~RootObject() = default;
};

}  // namespace zq
