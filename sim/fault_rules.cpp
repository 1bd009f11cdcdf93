#include "sim/fault_rules.h"

#include <array>
#include <charconv>
#include <utility>

namespace zq::sim {

namespace {

constexpr std::array<std::pair<FaultKind, const char*>, 15> kKindNames{{
    {FaultKind::Nak, "nak"},
    {FaultKind::LostAck, "lost-ack"},
    {FaultKind::LostReply, "lost-reply"},
    {FaultKind::FrameCrc, "frame-crc"},
    {FaultKind::MessageCrc, "msg-crc"},
    {FaultKind::BadHeader, "bad-header"},
    {FaultKind::BadXor, "bad-xor"},
    {FaultKind::Reject, "reject"},
    {FaultKind::Status, "status"},
    {FaultKind::Garbage, "garbage"},
    {FaultKind::Pieces, "pieces"},
    {FaultKind::DoubleProgress, "double-progress"},
    {FaultKind::Silence, "silence"},
    {FaultKind::LatePower, "late-power"},
    {FaultKind::WeakCell, "weak-cell"},
}};

constexpr std::array<const char*, 11> kOps{"any",        "channel",  "connect", "erase",
                                           "uploadinit", "write",    "exec",    "cmd7",
                                           "read",       "idsearch", "idread"};

bool parseUnsigned(std::string_view text, std::uint64_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseProbability(std::string_view text, double& value) {
    // from_chars for double is missing from older standard libraries; a plain decimal is all
    // a probability needs.
    std::uint64_t whole = 0;
    std::size_t dot = text.find('.');
    if (!parseUnsigned(text.substr(0, dot), whole) && dot != 0) return false;
    value = static_cast<double>(whole);
    if (dot != std::string_view::npos) {
        std::string_view fraction = text.substr(dot + 1);
        double scale = 0.1;
        for (char c : fraction) {
            if (c < '0' || c > '9') return false;
            value += (c - '0') * scale;
            scale /= 10;
        }
    }
    return value >= 0 && value <= 1;
}

bool setKey(FaultRule& rule, std::string_view key, std::string_view value, std::string& error) {
    std::uint64_t number = 0;
    auto numberIn = [&](std::uint64_t low, std::uint64_t high) {
        if (parseUnsigned(value, number) && number >= low && number <= high) return true;
        error = "bad value '" + std::string(value) + "' for " + std::string(key);
        return false;
    };
    if (key == "on") {
        for (const char* op : kOps)
            if (value == op) {
                rule.on = op;
                return true;
            }
        error = "unknown command '" + std::string(value) + "' for on=";
        return false;
    }
    if (key == "level") return numberIn(1, 2) && (rule.level = static_cast<int>(number), true);
    if (key == "ch") return numberIn(0, 1) && (rule.channel = static_cast<int>(number), true);
    if (key == "n") {
        rule.when = FaultRule::When::Nth;
        return numberIn(1, UINT64_MAX) && (rule.n = number, true);
    }
    if (key == "every") {
        rule.when = FaultRule::When::Every;
        return numberIn(1, UINT64_MAX) && (rule.n = number, true);
    }
    if (key == "p") {
        rule.when = FaultRule::When::Probability;
        if (parseProbability(value, rule.probability)) return true;
        error = "bad probability '" + std::string(value) + "'";
        return false;
    }
    if (key == "value") {
        if (!numberIn(0, 255)) return false;
        if (number == 1) {
            error = "value=1 is the success status, not a fault";
            return false;
        }
        rule.status = static_cast<std::uint8_t>(number);
        return true;
    }
    if (key == "count")
        return numberIn(1, 4096) && (rule.count = static_cast<std::uint32_t>(number), true);
    if (key == "size")
        return numberIn(1, 4096) && (rule.pieceSize = static_cast<std::uint32_t>(number), true);
    if (key == "pause-ms")
        return numberIn(0, 60000) && (rule.pauseMs = static_cast<std::uint32_t>(number), true);
    if (key == "ms")
        return numberIn(0, 3600000) && (rule.ms = static_cast<std::uint32_t>(number), true);
    if (key == "byte")
        return numberIn(0, 65535) && (rule.cellByte = static_cast<std::uint32_t>(number), true);
    if (key == "bit")
        return numberIn(0, 7) && (rule.cellBit = static_cast<std::uint8_t>(number), true);
    error = "unknown key '" + std::string(key) + "'";
    return false;
}

}  // namespace

const char* faultKindName(FaultKind kind) {
    for (const auto& [k, name] : kKindNames)
        if (k == kind) return name;
    return "?";
}

bool parseFaultRule(std::string_view text, FaultRule& rule, std::string& error) {
    rule = FaultRule{};
    rule.text = std::string(text);
    std::size_t comma = text.find(',');
    std::string_view kind = text.substr(0, comma);
    bool known = false;
    for (const auto& [k, name] : kKindNames)
        if (kind == name) {
            rule.kind = k;
            known = true;
        }
    if (!known) {
        error = "unknown fault '" + std::string(kind) + "'";
        return false;
    }
    while (comma != std::string_view::npos) {
        text.remove_prefix(comma + 1);
        comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        std::size_t eq = item.find('=');
        if (eq == std::string_view::npos) {
            error = "expected key=value, got '" + std::string(item) + "'";
            return false;
        }
        if (!setKey(rule, item.substr(0, eq), item.substr(eq + 1), error)) return false;
    }
    return true;
}

FaultPlan::FaultPlan(std::vector<FaultRule> rules, std::uint64_t seed)
    : rules_(std::move(rules)), random_(seed) {}

bool FaultPlan::decide(FaultRule& rule) {
    switch (rule.when) {
        case FaultRule::When::Nth:
            return rule.counted == rule.n;
        case FaultRule::When::Every:
            return rule.counted % rule.n == 0;
        case FaultRule::When::Probability:
            return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rule.probability;
    }
    return false;
}

const FaultRule* FaultPlan::hit(FaultKind kind, const FrameFacts& facts) {
    const FaultRule* first = nullptr;
    for (FaultRule& rule : rules_) {
        if (rule.kind != kind) continue;
        if (rule.on != "any" && rule.on != facts.op) continue;
        if (rule.level != 0 && rule.level != facts.level) continue;
        if (rule.channel >= 0 && rule.channel != facts.channel) continue;
        ++rule.counted;
        bool hits = rule.latched || decide(rule);
        if (hits && kind == FaultKind::Silence) rule.latched = true;
        if (hits && first == nullptr) first = &rule;
    }
    return first;
}

}  // namespace zq::sim
