#include "support/fail.h"

#include <atomic>

namespace zq {

namespace {
std::atomic<FailureHandler*> processHandler{nullptr};
}

const char* failureKindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::NoFailure:
            return "no_failure";
        case FailureKind::Require:
            return "REQUIRE";
        case FailureKind::Ensure:
            return "ENSURE";
        case FailureKind::Invariant:
            return "INVARIANT";
        case FailureKind::Check:
            return "CHECK";
        case FailureKind::Explicit:
            return "EXPLICIT";
    }
    return "unknown";
}

FailureHandler::FailureHandler(std::uint32_t context) : context_(context) {
    reset();
    FailureHandler* none = nullptr;
    processHandler.compare_exchange_strong(none, this);
}

FailureHandler::~FailureHandler() {
    FailureHandler* self = this;
    processHandler.compare_exchange_strong(self, nullptr);
}

FailureHandler* FailureHandler::instance() {
    return processHandler.load();
}

void FailureHandler::fail(FailureKind kind, const char* text) {
    kind_ = kind;
    text_ = text;
    raise();
}

void FailureHandler::fail1(FailureKind kind, const char* text, std::uint32_t number1) {
    number1_ = number1;
    fail(kind, text);
}

void FailureHandler::fail2(FailureKind kind, const char* text, std::uint32_t number2) {
    number2_ = number2;
    fail(kind, text);
}

void FailureHandler::raise() {
    onFailure();
}

void FailureHandler::reset() {
    kind_ = FailureKind::NoFailure;
    text_ = nullptr;
    number1_ = 0;
    number2_ = 0xFFFFFFFFu;
}

void FailureHandler::onFailure() {
    defaultFailureReport(kind_, text_);
}

void fail(FailureKind kind, const char* text) {
    if (FailureHandler* handler = FailureHandler::instance())
        handler->fail(kind, text);
    else
        defaultFailureReport(kind, text);
}

void fail(FailureKind kind, const char* text, std::uint32_t number1) {
    if (FailureHandler* handler = FailureHandler::instance())
        handler->fail1(kind, text, number1);
    else
        defaultFailureReport(kind, text);
}

void fail2(FailureKind kind, const char* text, std::uint32_t number2) {
    if (FailureHandler* handler = FailureHandler::instance())
        handler->fail2(kind, text, number2);
    else
        defaultFailureReport(kind, text);
}

}  // namespace zq
