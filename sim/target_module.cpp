#include "sim/target_module.h"

#include <algorithm>
#include <cstdio>

#include "df1/crc.h"

namespace zq::sim {

namespace {

std::uint32_t u32At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint32_t>(m[at]) | static_cast<std::uint32_t>(m[at + 1]) << 8 |
           static_cast<std::uint32_t>(m[at + 2]) << 16 |
           static_cast<std::uint32_t>(m[at + 3]) << 24;
}

std::uint16_t u16At(const Bytes& m, std::size_t at) {
    return static_cast<std::uint16_t>(m[at] | m[at + 1] << 8);
}

void putU32(Bytes& m, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Request sizes, CRC included; WRITE is checked against its own length field.
std::size_t requestSize(std::uint8_t opcode) {
    switch (opcode) {
        case op::kConnect:
        case op::kCmd7:
            return 4;
        case op::kErase:
        case op::kUploadInit:
            return 12;
        case op::kExec:
            return 8;
        case op::kRead:
            return 10;
        case op::kIdSearch:
            return 5;
        case op::kIdRead:
            return 14;
        default:
            return 0;
    }
}

bool allowedAt(int level, std::uint8_t opcode) {
    switch (opcode) {
        case op::kConnect:
        case op::kUploadInit:
        case op::kWrite:
        case op::kCmd7:
        case op::kRead:
            return true;
        case op::kExec:
            return level == 1;
        case op::kErase:
        case op::kIdSearch:
        case op::kIdRead:
            return level == 2;
        default:
            return false;
    }
}

std::uint8_t replyOpcode(std::uint8_t request) {
    switch (request) {
        case op::kConnect:
            return 0xFE;
        case op::kErase:
            return 0xFD;
        case op::kUploadInit:
            return 0xFC;
        case op::kWrite:
            return 0xFB;
        case op::kExec:
            return 0xFA;
        case op::kCmd7:
            return 0xF9;
        case op::kRead:
            return 0xF8;
        case op::kIdSearch:
            return 0xF6;
        case op::kIdRead:
            return 0xF5;
        default:
            return op::kReject;
    }
}

// Reads never reach past this: a reply must fit the PC's 508-byte payload with the 5 bytes of
// the adapter packet around it.
constexpr std::size_t kMaxReadLength = 493;
constexpr std::size_t kMaxWriteLength = 496;
constexpr std::size_t kChipMemory = 256;

}  // namespace

const char* opcodeName(std::uint8_t opcode) {
    switch (opcode) {
        case op::kConnect:
        case 0xFE:
            return "CONNECT";
        case op::kErase:
        case 0xFD:
            return "ERASE";
        case op::kUploadInit:
        case 0xFC:
            return "UPLOADINIT";
        case op::kWrite:
        case 0xFB:
            return "WRITE";
        case op::kExec:
        case 0xFA:
            return "EXEC";
        case op::kCmd7:
        case 0xF9:
            return "CMD7";
        case op::kRead:
        case 0xF8:
            return "READ";
        case op::kIdSearch:
        case 0xF6:
            return "IDSEARCH";
        case op::kIdRead:
        case 0xF5:
            return "IDREAD";
        case op::kReject:
            return "REJECT";
        default:
            return "UNKNOWN";
    }
}

TargetModule::TargetModule(ModuleHost& host, ModuleSetup setup)
    : host_(host), setup_(std::move(setup)), map_(memoryMapFor(setup_.plID)) {
    if (setup_.eraseSteps == 0) setup_.eraseSteps = 1;
}

void TargetModule::powerOff() {
    level_ = 0;
    fresh_ = false;
    pendingConnect_ = false;
    block_.reset();
    eraseActive_ = false;
    ++eraseGeneration_;
    heldProgress_.clear();
    for (const MapRange& range : map_)
        if (range.kind == RangeKind::Ram) memory_.forget(range.span);
}

void TargetModule::powerOn() {
    level_ = 1;
    fresh_ = true;
    if (pendingConnect_) {
        pendingConnect_ = false;
        doConnect();
    }
}

void TargetModule::answer(Bytes message, TraceEntry trace) {
    appendMessageCrc(message);
    trace.time = host_.now();
    trace.dir = "target";
    trace.channel = setup_.channel;
    trace.level = level_;
    trace.opcode = message[0];
    if (trace.op.empty()) trace.op = opcodeName(message[0]);
    if (!trace.status && message[0] != op::kReject) trace.status = message[1];
    host_.emit(*this, {Reply{std::move(message), std::move(trace)}});
}

void TargetModule::answerReject(std::uint8_t opcode, std::uint8_t reason, const char* detail) {
    TraceEntry trace;
    trace.detail = detail;
    answer({op::kReject, 0x00, opcode, reason}, std::move(trace));
}

void TargetModule::handle(const Bytes& m, const CommandFaults& faults) {
    bool good = crc16GenibusGood(m.data(), m.size()) && m.size() >= 4;
    if (level_ == 0) {
        // No power: the boot loader will see the CONNECT once the operator switches it on.
        if (good && m[0] == op::kConnect) pendingConnect_ = true;
        return;
    }
    std::uint8_t opcode = m.empty() ? 0 : m[0];
    if (!good) return answerReject(opcode, reject::kMalformed, "message crc");
    std::size_t expected =
        opcode == op::kWrite ? (m.size() >= 10 ? u16At(m, 6) + 10u : 0) : requestSize(opcode);
    if (!allowedAt(level_, opcode)) return answerReject(opcode, reject::kUnknown, "not at level");
    if (opcode == op::kRead && level_ == 2 && !setup_.daemonReads)
        return answerReject(opcode, reject::kUnknown, "no read in this daemon");
    if (m.size() != expected || (opcode == op::kWrite && expected > kMaxWriteLength + 10))
        return answerReject(opcode, reject::kMalformed, "message size");
    if (eraseActive_ && opcode != op::kErase) return answerReject(opcode, reject::kBusy, "busy");
    if (opcode == op::kWrite && !block_)
        return answerReject(opcode, reject::kOutOfState, "no uploadinit");
    if (faults.reject) return answerReject(opcode, reject::kInjected, "injected");
    if (faults.status) return answerWithStatus(m, *faults.status);

    switch (opcode) {
        case op::kConnect:
            return doConnect();
        case op::kErase:
            return doErase(m, faults.doubleProgress);
        case op::kUploadInit:
            return doUploadInit(m);
        case op::kWrite:
            return doWrite(m, faults);
        case op::kExec:
            return doExec(m);
        case op::kCmd7:
            return answer({0xF9, status::kOk}, {});
        case op::kRead:
            return doRead(m);
        case op::kIdSearch:
            return doIdSearch(m);
        case op::kIdRead:
            return doIdRead(m);
        default:
            return answerReject(opcode, reject::kUnknown, "unknown");
    }
}

void TargetModule::answerWithStatus(const Bytes& m, std::uint8_t st) {
    Bytes r{replyOpcode(m[0]), st};
    switch (m[0]) {
        case op::kConnect:
            putU32(r, level_ == 2 ? setup_.l2plID : setup_.plID);
            r.push_back(static_cast<std::uint8_t>(level_));
            break;
        case op::kErase:
            r.insert(r.end(), m.begin() + 2, m.begin() + 10);
            r.push_back(0);
            break;
        case op::kUploadInit:
            r.insert(r.end(), m.begin() + 2, m.begin() + 10);
            break;
        case op::kWrite:
        case op::kRead:
            r.insert(r.end(), m.begin() + 2, m.begin() + 8);
            break;
        case op::kExec:
            r.insert(r.end(), m.begin() + 2, m.begin() + 6);
            break;
        case op::kIdSearch:
            r.push_back(m[2]);
            break;
        case op::kIdRead:
            r.insert(r.end(), m.begin() + 2, m.begin() + 12);
            break;
        default:
            break;
    }
    TraceEntry trace;
    trace.detail = "injected status";
    answer(std::move(r), std::move(trace));
}

void TargetModule::doConnect() {
    std::uint32_t id = level_ == 2 ? setup_.l2plID : setup_.plID;
    Bytes r{0xFE, status::kOk};
    putU32(r, id);
    r.push_back(static_cast<std::uint8_t>(level_));
    TraceEntry trace;
    trace.plid = id;
    answer(std::move(r), std::move(trace));
}

void TargetModule::doErase(const Bytes& m, bool doubleProgress) {
    Span span{u32At(m, 2), u32At(m, 6)};
    const MapRange* range = rangeHolding(map_, span);
    TraceEntry trace;
    trace.address = static_cast<std::uint32_t>(span.start);
    trace.length = static_cast<std::uint32_t>(span.length);
    if (range == nullptr || range->kind != RangeKind::Flash || span.length == 0) {
        Bytes r{0xFD, status::kNotInMap};
        r.insert(r.end(), m.begin() + 2, m.begin() + 10);
        r.push_back(0);
        trace.percent = 0;
        return answer(std::move(r), std::move(trace));
    }
    // A repeated ERASE (its first progress reply was lost) starts the erase over.
    ++eraseGeneration_;
    heldProgress_.clear();
    eraseActive_ = true;
    eraseSpan_ = span;
    eraseDouble_ = doubleProgress;
    std::uint64_t generation = eraseGeneration_;
    SimTime start = host_.now();
    for (unsigned step = 1; step <= setup_.eraseSteps; ++step) {
        SimTime at = start + setup_.eraseTime * step / setup_.eraseSteps;
        host_.schedule(at, [this, generation, step] { eraseStep(generation, step); });
    }
}

void TargetModule::eraseStep(std::uint64_t generation, unsigned step) {
    if (generation != eraseGeneration_ || !eraseActive_) return;
    bool last = step == setup_.eraseSteps;
    auto percent = static_cast<std::uint8_t>(step * 100 / setup_.eraseSteps);
    if (last) {
        memory_.forget(eraseSpan_);
        erased_.add(eraseSpan_);
        eraseActive_ = false;
    }
    Bytes r{0xFD, status::kOk};
    putU32(r, static_cast<std::uint32_t>(eraseSpan_.start));
    putU32(r, static_cast<std::uint32_t>(eraseSpan_.length));
    r.push_back(percent);
    appendMessageCrc(r);
    Reply reply{std::move(r), {}};
    reply.trace.time = host_.now();
    reply.trace.dir = "target";
    reply.trace.op = "ERASE";
    reply.trace.opcode = 0xFD;
    reply.trace.channel = setup_.channel;
    reply.trace.level = level_;
    reply.trace.status = status::kOk;
    reply.trace.address = static_cast<std::uint32_t>(eraseSpan_.start);
    reply.trace.length = static_cast<std::uint32_t>(eraseSpan_.length);
    reply.trace.percent = percent;
    if (eraseDouble_ && !last && heldProgress_.empty()) {
        reply.trace.fault = "double-progress";
        heldProgress_.push_back(std::move(reply));
        return;
    }
    std::vector<Reply> replies = std::move(heldProgress_);
    heldProgress_.clear();
    replies.push_back(std::move(reply));
    host_.emit(*this, std::move(replies));
}

void TargetModule::doUploadInit(const Bytes& m) {
    Span span{u32At(m, 2), u32At(m, 6)};
    const MapRange* range = rangeHolding(map_, span);
    // The boot loader takes code into RAM only; the daemon serves every range of the map.
    bool ok = range != nullptr && span.length > 0 && (level_ == 2 || range->kind == RangeKind::Ram);
    if (ok) {
        block_ = span;
        fresh_ = false;
    } else {
        block_.reset();
    }
    Bytes r{0xFC, ok ? status::kOk : status::kNotInMap};
    r.insert(r.end(), m.begin() + 2, m.begin() + 10);
    TraceEntry trace;
    trace.address = static_cast<std::uint32_t>(span.start);
    trace.length = static_cast<std::uint32_t>(span.length);
    answer(std::move(r), std::move(trace));
}

std::uint8_t TargetModule::writeStatus(const MapRange& range, Address address, const Bytes& data,
                                       std::size_t offset, std::size_t length) const {
    if (range.kind != RangeKind::Flash) return status::kOk;
    // NOR flash programs only erased cells; a byte that already holds exactly this value (a
    // WRITE repeated after its reply was lost) is left as it is.
    for (std::size_t i = 0; i < length; ++i) {
        Address a = address + i;
        if (memory_.isWritten(a)) {
            if (memory_.read(a, 0xFF) != data[offset + i]) return status::kNotErased;
        } else if (!erased_.contains(a)) {
            return status::kNotErased;
        }
    }
    return status::kOk;
}

void TargetModule::doWrite(const Bytes& m, const CommandFaults& faults) {
    std::uint16_t length = u16At(m, 6);
    Span span{u32At(m, 2), length};
    TraceEntry trace;
    trace.address = static_cast<std::uint32_t>(span.start);
    trace.length = length;
    std::uint8_t st = status::kOk;
    const MapRange* range = rangeHolding(map_, span);
    if (length == 0 || span.start < block_->start || span.end() > block_->end() ||
        range == nullptr) {
        st = status::kOutsideBlock;
    } else {
        st = writeStatus(*range, span.start, m, 8, length);
    }
    if (st == status::kOk) {
        memory_.write(span.start, m.data() + 8, length);
        // A weak cell takes one bit wrong while the target believes the WRITE went through: it
        // answers as for any good WRITE, and only a read-back finds the byte. Flash holds what
        // the cell took, so a later rewrite of the data as sent is one with other data.
        if (const FaultRule* weak = faults.weakCell ? faults.weakCell() : nullptr) {
            Address at = span.start + std::min<std::size_t>(weak->cellByte, length - 1u);
            auto bit = static_cast<std::uint8_t>(1u << weak->cellBit);
            std::uint8_t stored = static_cast<std::uint8_t>(memory_.read(at, 0xFF) ^ bit);
            memory_.write(at, &stored, 1);
            trace.fault = "weak-cell";
            char where[16];
            std::snprintf(where, sizeof where, "0x%08X", static_cast<unsigned>(at));
            trace.detail = "bit " + std::to_string(weak->cellBit) + " of " + where;
        }
        fresh_ = false;
        if (level_ == 2 && range->kind != RangeKind::Ram) burned_ = true;
    }
    Bytes r{0xFB, st};
    r.insert(r.end(), m.begin() + 2, m.begin() + 8);
    answer(std::move(r), std::move(trace));
}

void TargetModule::doExec(const Bytes& m) {
    std::uint32_t address = u32At(m, 2);
    const MapRange* range = rangeHolding(map_, Span{address, 1});
    // The boot loader jumps only into code it was given; anything else would run whatever the
    // RAM held before.
    bool ok = range != nullptr && range->kind == RangeKind::Ram && memory_.isWritten(address);
    Bytes r{0xFA, ok ? status::kOk : status::kNoCode};
    putU32(r, address);
    TraceEntry trace;
    trace.address = address;
    answer(std::move(r), std::move(trace));
    if (ok) {
        level_ = 2;
        fresh_ = false;
        block_.reset();
    }
}

void TargetModule::doRead(const Bytes& m) {
    std::uint16_t length = u16At(m, 6);
    Span span{u32At(m, 2), length};
    const MapRange* range = rangeHolding(map_, span);
    bool ok = range != nullptr && length <= kMaxReadLength;
    Bytes r{0xF8, ok ? status::kOk : status::kFailed};
    r.insert(r.end(), m.begin() + 2, m.begin() + 8);
    if (ok) {
        std::size_t at = r.size();
        r.resize(at + length);
        memory_.read(span.start, r.data() + at, length, background(range->kind));
    }
    TraceEntry trace;
    trace.address = static_cast<std::uint32_t>(span.start);
    trace.length = length;
    answer(std::move(r), std::move(trace));
}

std::vector<Bytes> TargetModule::chipIds(std::uint8_t selector) const {
    // Selector 0 finds the two identification chips of a module, selector 1 the first only;
    // other selectors find nothing. The ids are made from the platform and channel so that two
    // modules never share one.
    std::vector<Bytes> ids;
    unsigned count = selector == 0 ? 2 : selector == 1 ? 1 : 0;
    for (unsigned i = 0; i < count; ++i) {
        Bytes id{0x28};
        putU32(id, setup_.plID);
        id.push_back(static_cast<std::uint8_t>(setup_.channel));
        id.push_back(static_cast<std::uint8_t>(i));
        id.push_back(crc8Wcdma(id.data(), id.size()));
        ids.push_back(std::move(id));
    }
    return ids;
}

void TargetModule::doIdSearch(const Bytes& m) {
    std::vector<Bytes> ids = chipIds(m[2]);
    Bytes r{0xF6, ids.empty() ? status::kFailed : status::kOk, m[2]};
    for (const Bytes& id : ids) r.insert(r.end(), id.begin(), id.end());
    TraceEntry trace;
    trace.length = static_cast<std::uint32_t>(ids.size());
    answer(std::move(r), std::move(trace));
}

void TargetModule::doIdRead(const Bytes& m) {
    Bytes chip(m.begin() + 2, m.begin() + 10);
    std::uint8_t offset = m[10];
    std::uint8_t count = m[11];
    std::vector<Bytes> known = chipIds(0);
    bool ok = std::find(known.begin(), known.end(), chip) != known.end() &&
              std::size_t{offset} + count <= kChipMemory;
    Bytes r{0xF5, ok ? status::kOk : status::kFailed};
    r.insert(r.end(), m.begin() + 2, m.begin() + 12);
    if (ok)
        for (unsigned i = 0; i < count; ++i)
            r.push_back(static_cast<std::uint8_t>(chip[7] ^ (offset + i)));
    TraceEntry trace;
    trace.address = offset;
    trace.length = count;
    answer(std::move(r), std::move(trace));
}

}  // namespace zq::sim
