#include "support/vyjimka.h"

#include <cstdarg>
#include <mutex>

#include "support/string_table.h"
#include "support/text.h"

namespace zq {

namespace {

// Workers park their text before they post the notification that makes the GUI thread read it;
// the lock keeps two workers that fail at once from mixing their texts.
std::mutex pendingLock;
std::optional<std::string> pendingText;

}  // namespace

CVyjimkaN::CVyjimkaN(std::uint32_t code, ...) : CVyjimka(code) {
    std::va_list args;
    va_start(args, code);
    text_ = vformatText(loadString(code + kExceptionStringBase), args);
    va_end(args);
}

CVyjimkaGLE::CVyjimkaGLE(std::uint32_t code, ...) : CVyjimka(code) {
    systemError_ = lastSystemError();
    std::va_list args;
    va_start(args, code);
    text_ = utf8Prefix(vformatText(loadString(code + kExceptionStringBase), args), 255);
    va_end(args);
    text_ += formatText(" %d - ", static_cast<int>(systemError_));
    text_ += systemErrorText(systemError_);
}

void reportException(const CVyjimka* e) {
    if (e == nullptr) return;
    std::lock_guard<std::mutex> lock(pendingLock);
    pendingText = utf8Prefix(e->text(), kPendingMessageChars);
}

bool hasPendingMessage() {
    std::lock_guard<std::mutex> lock(pendingLock);
    return pendingText.has_value();
}

std::optional<std::string> takePendingMessage() {
    std::lock_guard<std::mutex> lock(pendingLock);
    std::optional<std::string> text = std::move(pendingText);
    pendingText.reset();
    return text;
}

}  // namespace zq
