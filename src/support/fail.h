#pragma once

#include <cstdint>

#include "support/root_object.h"

namespace zq {

enum class FailureKind : std::uint8_t {
    NoFailure = 0,
    Require = 1,
    Ensure = 2,
    Invariant = 3,
    Check = 4,
    Explicit = 5,
};

// "no_failure", "REQUIRE", ..., "unknown" for a value outside the set.
const char* failureKindName(FailureKind kind);

// Records the last contract failure and reports it. The first handler constructed becomes the
// process-wide one; every fail() goes to it. Texts are kept by pointer, so they must be constants.
class FailureHandler : public RootObject {
public:
    explicit FailureHandler(std::uint32_t context = 0);
    ~FailureHandler() override;
    FailureHandler(const FailureHandler&) = delete;
    FailureHandler& operator=(const FailureHandler&) = delete;

    // The process-wide handler, or nullptr when none has been constructed.
    static FailureHandler* instance();

    void fail(FailureKind kind, const char* text);
    void fail1(FailureKind kind, const char* text, std::uint32_t number1);
    void fail2(FailureKind kind, const char* text, std::uint32_t number2);

    virtual void raise();
    virtual void reset();

    std::uint32_t context() const { return context_; }
    FailureKind kind() const { return kind_; }
    const char* text() const { return text_; }
    std::uint32_t number1() const { return number1_; }
    std::uint32_t number2() const { return number2_; }

protected:
    // Default: an assertion report naming module "fail", line 119, after which the program goes
    // on (standard error on POSIX; a modal end/debug/ignore report on Windows).
    virtual void onFailure();

private:
    std::uint32_t context_;
    FailureKind kind_ = FailureKind::NoFailure;
    const char* text_ = nullptr;
    std::uint32_t number1_ = 0;
    std::uint32_t number2_ = 0xFFFFFFFFu;
};

// The source module and line that the default assertion report names.
inline constexpr const char* kFailModule = "fail";
inline constexpr int kFailLine = 119;

// Reports to the process-wide handler (or, before one exists, straight to the default report).
void fail(FailureKind kind, const char* text);
void fail(FailureKind kind, const char* text, std::uint32_t number1);
void fail2(FailureKind kind, const char* text, std::uint32_t number2);

// Contract checks: report when the condition does not hold and hand the condition back, so that
// a caller can refuse to touch memory after a failed check (the report itself returns).
inline bool require(bool condition, const char* text) {
    if (!condition) fail(FailureKind::Require, text);
    return condition;
}

inline void failExplicit(const char* text) {
    fail(FailureKind::Explicit, text);
}

// The platform's default assertion report (fail_posix.cpp / fail_win32.cpp).
void defaultFailureReport(FailureKind kind, const char* text);

}  // namespace zq
