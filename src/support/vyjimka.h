#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/root_object.h"
#include "support/string_ids.h"

namespace zq {

// Serial-port errors of the outside world. Created with new, thrown by pointer, and released by
// whoever catches them:
//     try { port.open(n); } catch (CVyjimka* e) { reportException(e); e->release(); }
class CVyjimka : public RootObject {
public:
    CVyjimka(const CVyjimka&) = delete;
    CVyjimka& operator=(const CVyjimka&) = delete;

    std::uint32_t code() const { return code_; }
    const std::string& text() const { return text_; }
    void release() { delete this; }

protected:
    explicit CVyjimka(std::uint32_t code) : code_(code) {}
    ~CVyjimka() override = default;

    std::uint32_t code_;
    std::string text_;
};

// Code 0..6; text = string kExceptionStringBase + code formatted with the further arguments.
class CVyjimkaN : public CVyjimka {
public:
    explicit CVyjimkaN(std::uint32_t code, ...);
};

// As CVyjimkaN, then " %d - " with the thread's last system error and the system's text for it.
class CVyjimkaGLE : public CVyjimka {
public:
    explicit CVyjimkaGLE(std::uint32_t code, ...);
    std::uint32_t systemError() const { return systemError_; }

private:
    std::uint32_t systemError_ = 0;
};

inline constexpr unsigned kExceptionStringBase = kStrDeadlock;
inline constexpr std::size_t kPendingMessageChars = 255;

// Parks at most 255 characters of e's text as the pending message. The caller releases e.
void reportException(const CVyjimka* e);

// The pending message, if any; taking it clears it.
bool hasPendingMessage();
std::optional<std::string> takePendingMessage();

// The thread's last system error (GetLastError or errno) and the system's text for a code
// (system_error_win32.cpp / system_error_posix.cpp). The text may be empty.
std::uint32_t lastSystemError();
std::string systemErrorText(std::uint32_t code);

}  // namespace zq
