#include "sim/simulator.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace zq::sim {

namespace {

const Bytes kStartAnswer{'S', 'T', 'A', 'R', 'T', '\r', '\n', 'G'};

std::string lowerOp(std::uint8_t opcode) {
    std::string name = opcodeName(opcode);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

void addName(std::string& names, const char* name) {
    if (!names.empty()) names += '+';
    names += name;
}

std::uint32_t le(const Bytes& m, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | m[at + static_cast<std::size_t>(i)];
    return v;
}

// The fields of a request that the trace shows, where its size allows them.
void describeRequest(const Bytes& m, TraceEntry& e) {
    if (m.empty()) return;
    e.opcode = m[0];
    e.op = opcodeName(m[0]);
    switch (m[0]) {
        case op::kErase:
        case op::kUploadInit:
            if (m.size() >= 10) e.address = le(m, 2, 4), e.length = le(m, 6, 4);
            break;
        case op::kWrite:
        case op::kRead:
            if (m.size() >= 8) e.address = le(m, 2, 4), e.length = le(m, 6, 2);
            break;
        case op::kExec:
            if (m.size() >= 6) e.address = le(m, 2, 4);
            break;
        case op::kIdRead:
            if (m.size() >= 12) e.address = m[10], e.length = m[11];
            break;
        default:
            break;
    }
}

}  // namespace

Simulator::Simulator(const SimConfig& config, std::ostream* trace)
    : config_(config), trace_(trace), line_(config.baud), faults_(config.faults, config.seed) {
    auto make = [&](const char* name, int channel, std::uint32_t plID) {
        ModuleSetup setup;
        setup.name = name;
        setup.channel = channel;
        setup.plID = plID;
        setup.l2plID = config_.l2plid.value_or(plID);
        setup.eraseTime = config_.eraseTime;
        setup.eraseSteps = config_.eraseSteps;
        setup.daemonReads = !config_.noRead;
        ModuleHost& host = *this;
        modules_.push_back(std::make_unique<TargetModule>(host, setup));
    };
    make("ch0", 0, config_.plidA);
    make("ch1", 1, config_.plidB);
    if (config_.secondModule) make("ch1-second", 1, config_.plidSecond);
}

Simulator::~Simulator() = default;

std::vector<const TargetModule*> Simulator::modules() const {
    std::vector<const TargetModule*> list;
    for (const auto& m : modules_) list.push_back(m.get());
    return list;
}

TargetModule* Simulator::moduleOn(int channel) const {
    if (channel == 0) return modules_[0].get();
    return secondActive_ ? modules_[2].get() : modules_[1].get();
}

int Simulator::connectorOf(const TargetModule& module) const {
    // Processors A and B sit behind one connector and share its power; the second module of a
    // left/right unit has a connector (and a power switch) of its own.
    return &module == modules_[0].get() || &module == modules_[1].get() ? 0 : 1;
}

void Simulator::schedule(SimTime at, std::function<void()> action) {
    scheduler_.at(std::max(at, now_), std::move(action));
}

void Simulator::input(const std::uint8_t* data, std::size_t length, SimTime arrival) {
    now_ = std::max(now_, arrival);
    lastInput_ = arrival;
    hungUp_ = false;
    if (length == 0) return;
    SimTime complete = line_.received(length, arrival);
    Bytes bytes(data, data + length);
    scheduler_.at(complete, [this, bytes = std::move(bytes)] { onBytes(bytes); });
}

void Simulator::hangup(SimTime now) {
    now_ = std::max(now_, now);
    hungUp_ = true;
}

void Simulator::advance(SimTime now) {
    while (auto due = scheduler_.next()) {
        if (*due > now) break;
        now_ = std::max(now_, *due);
        scheduler_.runOne(now);
    }
    now_ = std::max(now_, now);
}

Bytes Simulator::takeOutput(SimTime now) {
    return line_.takeDue(now);
}

std::optional<SimTime> Simulator::nextDeadline() const {
    std::optional<SimTime> next = scheduler_.next();
    if (auto out = line_.nextDue()) next = next ? std::min(*next, *out) : *out;
    if (config_.once && config_.idleTime > 0 && served_ > 0) {
        SimTime idleEnd = lastInput_ + config_.idleTime;
        next = next ? std::min(*next, idleEnd) : idleEnd;
    }
    return next;
}

bool Simulator::finished(SimTime now) const {
    bool quiet = scheduler_.empty() && line_.idle();
    if (!quiet) return false;
    if (config_.exitAfter > 0 && served_ >= config_.exitAfter) return true;
    if (!config_.once || served_ == 0) return false;
    return hungUp_ || (config_.idleTime > 0 && now - lastInput_ >= config_.idleTime);
}

void Simulator::onBytes(const Bytes& bytes) {
    std::vector<DecodedFrame> frames;
    decoder_.feed(bytes.data(), bytes.size(), frames);
    for (const DecodedFrame& frame : frames) onFrame(frame);
}

void Simulator::onFrame(const DecodedFrame& decoded) {
    if (!decoded.good) {
        ++stats_.badFrames;
        TraceEntry e;
        e.time = now_;
        e.dir = "pc";
        e.op = "BAD-FRAME";
        e.detail = decoded.reason;
        e.channel = channel_;
        trace_.record(e);
        if (silenced_) return;
        // Whatever the frame was meant to be, the adapter refuses it; the PC sends it again.
        ++stats_.naks;
        line_.send(nakBytes(), now_);
        return;
    }
    ++served_;
    const PcFrame& frame = decoded.frame;
    if (frame.address == 0)
        onChannelFrame(frame);
    else
        onTargetFrame(frame);
}

int Simulator::attemptOf(int channel, const PcFrame& frame) {
    Bytes key{frame.address};
    key.insert(key.end(), frame.data.begin(), frame.data.end());
    auto c = static_cast<std::size_t>(channel);
    lastAttempt_[c] = key == lastFrame_[c] ? lastAttempt_[c] + 1 : 1;
    lastFrame_[c] = std::move(key);
    if (lastAttempt_[c] > 1) ++stats_.repeatedFrames;
    return lastAttempt_[c];
}

void Simulator::onChannelFrame(const PcFrame& frame) {
    ++stats_.channelFrames;
    TraceEntry e;
    e.time = now_;
    e.dir = "pc";
    e.op = "CHANNEL";
    bool valid = frame.data.size() == 1 && (frame.data[0] == 'a' || frame.data[0] == 'b');
    int requested = valid ? frame.data[0] - 'a' : channel_;
    e.channel = requested;
    e.attempt = attemptOf(requested, frame);
    FrameFacts facts{"channel", 0, requested};
    if (faults_.hit(FaultKind::Silence, facts)) {
        silenced_ = true;
        e.fault = "silence";
        ++stats_.faults;
    }
    if (!valid) e.detail = "not a channel request";
    trace_.record(e);
    if (!valid || silenced_) return;

    channel_ = requested;
    TargetModule* first = modules_[1].get();
    if (channel_ == 1 && config_.secondModule && !secondActive_ && first->burned()) {
        // The operator has moved the adapter from the left module to the right one.
        secondActive_ = true;
        TraceEntry swap;
        swap.time = now_;
        swap.dir = "sim";
        swap.op = "MODULE";
        swap.channel = 1;
        swap.detail = "second module on the line";
        trace_.record(swap);
    }
    afterSwitch_[moduleOn(channel_)] = true;

    ReplyFaults rf = replyFaults(facts);
    Bytes frameBytes = frameReply(kStartAnswer, config_.channelReplyType, rf);
    TraceEntry r;
    r.time = now_;
    r.dir = "adapter";
    r.op = "START";
    r.channel = channel_;
    r.detail = "type " + std::to_string(config_.channelReplyType);
    r.fault = rf.names;
    trace_.record(r);
    ++stats_.replies;
    if (rf.lost) {
        ++stats_.lostReplies;
        return;
    }
    sendFrames({frameBytes}, rf);
}

void Simulator::onTargetFrame(const PcFrame& frame) {
    ++stats_.commandFrames;
    TargetModule& module = *moduleOn(channel_);
    TraceEntry e;
    e.time = now_;
    e.dir = "pc";
    e.channel = channel_;
    e.level = module.level();
    describeRequest(frame.data, e);
    if (frame.data.empty()) e.op = "EMPTY";
    e.attempt = attemptOf(channel_, frame);
    if (frame.address != 1) e.detail = "address " + std::to_string(frame.address);
    std::string op = frame.data.empty() ? "unknown" : lowerOp(frame.data[0]);
    FrameFacts facts{op, module.level(), channel_};

    auto note = [&](const char* name) {
        addName(e.fault, name);
        ++stats_.faults;
    };
    if (faults_.hit(FaultKind::Silence, facts)) {
        silenced_ = true;
        note("silence");
    }
    if (silenced_) {
        trace_.record(e);
        return;
    }
    // Only frames with address 1 go to the target; anything else the adapter refuses.
    if (frame.address != 1 || faults_.hit(FaultKind::Nak, facts)) {
        if (frame.address == 1) note("nak");
        trace_.record(e);
        ++stats_.naks;
        line_.send(nakBytes(), now_);
        return;
    }
    bool ackLost = faults_.hit(FaultKind::LostAck, facts) != nullptr;
    if (ackLost) note("lost-ack");

    bool connect = !frame.data.empty() && frame.data[0] == op::kConnect;
    if (connect) preparePower(module, facts, e.fault);
    afterSwitch_[&module] = false;

    CommandFaults cf;
    if (module.level() > 0) cf = commandFaults(frame.data, facts, e.fault);
    trace_.record(e);

    if (!ackLost) {
        ++stats_.acks;
        line_.send(ackBytes(), now_);
    }
    pendingFaults_[&module] = replyFaults(facts);
    module.handle(frame.data, cf);
}

void Simulator::preparePower(TargetModule& module, const FrameFacts& facts, std::string& names) {
    int connector = connectorOf(module);
    // The program sends CONNECT right after a channel switch only when a run begins, and the
    // operator switches the unit off and on for every run: a module that has already been
    // used is found freshly powered.
    if (afterSwitch_[&module] && module.level() != 0 && !module.fresh()) powerCycle(connector);
    if (module.level() != 0 || connectors_[static_cast<std::size_t>(connector)].powering) return;
    SimTime delay = config_.powerOnDelay;
    std::string fault;
    if (const FaultRule* late = faults_.hit(FaultKind::LatePower, facts)) {
        delay = millis(late->ms);
        fault = "late-power";
        addName(names, "late-power");
        ++stats_.faults;
    }
    powerUp(connector, delay, fault);
}

void Simulator::powerCycle(int connector) {
    Connector& c = connectors_[static_cast<std::size_t>(connector)];
    ++c.generation;
    c.powering = false;
    for (auto& m : modules_)
        if (connectorOf(*m) == connector) m->powerOff();
    TraceEntry e;
    e.time = now_;
    e.dir = "sim";
    e.op = "POWER-OFF";
    e.detail = "connector " + std::to_string(connector);
    trace_.record(e);
}

void Simulator::powerUp(int connector, SimTime delay, const std::string& fault) {
    Connector& c = connectors_[static_cast<std::size_t>(connector)];
    c.powering = true;
    std::uint64_t generation = c.generation;
    schedule(now_ + delay, [this, connector, generation, fault] {
        Connector& conn = connectors_[static_cast<std::size_t>(connector)];
        if (conn.generation != generation) return;
        conn.powering = false;
        TraceEntry e;
        e.time = now_;
        e.dir = "sim";
        e.op = "POWER-ON";
        e.detail = "connector " + std::to_string(connector);
        e.fault = fault;
        trace_.record(e);
        for (auto& m : modules_)
            if (connectorOf(*m) == connector) m->powerOn();
    });
}

CommandFaults Simulator::commandFaults(const Bytes& message, const FrameFacts& facts,
                                       std::string& names) {
    CommandFaults cf;
    if (faults_.hit(FaultKind::Reject, facts)) {
        cf.reject = true;
        addName(names, "reject");
        ++stats_.faults;
    } else if (const FaultRule* rule = faults_.hit(FaultKind::Status, facts)) {
        cf.status = rule->status;
        addName(names, "status");
        ++stats_.faults;
    }
    if (!message.empty() && message[0] == op::kErase &&
        faults_.hit(FaultKind::DoubleProgress, facts)) {
        cf.doubleProgress = true;
        addName(names, "double-progress");
        ++stats_.faults;
    }
    if (!message.empty() && message[0] == op::kWrite) {
        FrameFacts write{"write", facts.level, facts.channel};
        cf.weakCell = [this, write]() {
            const FaultRule* rule = faults_.hit(FaultKind::WeakCell, write);
            if (rule != nullptr) ++stats_.faults;
            return rule;
        };
    }
    return cf;
}

Simulator::ReplyFaults Simulator::replyFaults(const FrameFacts& facts) {
    ReplyFaults rf;
    auto take = [&](FaultKind kind) -> const FaultRule* {
        const FaultRule* rule = faults_.hit(kind, facts);
        if (rule != nullptr) {
            addName(rf.names, faultKindName(kind));
            ++stats_.faults;
        }
        return rule;
    };
    rf.lost = take(FaultKind::LostReply) != nullptr;
    rf.frameCrc = take(FaultKind::FrameCrc) != nullptr;
    rf.messageCrc = take(FaultKind::MessageCrc) != nullptr;
    rf.badHeader = take(FaultKind::BadHeader) != nullptr;
    rf.badXor = take(FaultKind::BadXor) != nullptr;
    if (const FaultRule* rule = take(FaultKind::Garbage)) rf.garbage = rule->count;
    if (const FaultRule* rule = take(FaultKind::Pieces)) {
        rf.pieceSize = rule->pieceSize;
        rf.pauseMs = rule->pauseMs;
    }
    return rf;
}

Bytes Simulator::frameReply(Bytes message, std::uint8_t type, const ReplyFaults& faults) {
    if (faults.messageCrc && !message.empty()) message.back() ^= 0xA5;
    // Header byte 1 is a running sequence number and the low bits of byte 2 name the channel:
    // the PC carries both without looking at them.
    Bytes packet = buildPacket(type, sequence_++, static_cast<std::uint8_t>(channel_), message);
    if (faults.badHeader) packet[3] ^= 0xFF;
    if (faults.badXor) packet.back() ^= 0xFF;
    Bytes frame = buildAdapterFrame(packet);
    if (faults.frameCrc) corruptFrameCrc(frame);
    return frame;
}

void Simulator::sendFrames(const std::vector<Bytes>& frames, const ReplyFaults& faults) {
    Bytes out;
    // Noise never holds a DLE, which would start a control sequence rather than be noise.
    for (std::uint32_t i = 0; i < faults.garbage; ++i)
        out.push_back(static_cast<std::uint8_t>(0x20 + (i * 7) % 0x5F));
    for (const Bytes& frame : frames) out.insert(out.end(), frame.begin(), frame.end());
    if (faults.pieceSize == 0) {
        line_.send(std::move(out), now_);
        return;
    }
    SimTime at = now_;
    for (std::size_t i = 0; i < out.size(); i += faults.pieceSize) {
        std::size_t end = std::min(out.size(), i + faults.pieceSize);
        line_.send(Bytes(out.begin() + static_cast<long>(i), out.begin() + static_cast<long>(end)),
                   at);
        at += millis(faults.pauseMs);
    }
}

void Simulator::emit(TargetModule& module, std::vector<Reply> replies) {
    ReplyFaults rf;
    if (auto it = pendingFaults_.find(&module); it != pendingFaults_.end()) {
        rf = it->second;
        pendingFaults_.erase(it);
    }
    bool onLine = moduleOn(channel_) == &module;
    std::vector<Bytes> frames;
    for (Reply& reply : replies) {
        ++stats_.replies;
        std::string names = reply.trace.fault;
        if (!rf.names.empty()) addName(names, rf.names.c_str());
        reply.trace.fault = names;
        if (!onLine) reply.trace.detail = "module not on the line";
        if (silenced_) reply.trace.detail = "silence";
        trace_.record(reply.trace);
        if (!onLine || silenced_ || rf.lost) {
            ++stats_.lostReplies;
            continue;
        }
        frames.push_back(frameReply(std::move(reply.message), kPacketTypeReply, rf));
    }
    if (!frames.empty()) sendFrames(frames, rf);
}

std::string Simulator::summary(SimTime now) const {
    std::uint32_t baud = config_.baud != 0 ? config_.baud : kProgramBaud;
    auto seconds = [](SimTime us) { return static_cast<double>(us) / 1e6; };
    SimTime up = LineModel::wireTime(line_.bytesFromPc(), baud);
    SimTime down = LineModel::wireTime(line_.bytesToPc(), baud);
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "frames from PC: %llu good (%llu channel switches, %llu commands), %llu bad, "
        "%llu repeated\n"
        "answers: %llu ACK, %llu NAK, %llu replies (%llu not delivered), %llu faults injected\n"
        "bytes: PC->adapter %llu, adapter->PC %llu\n"
        "wire time at %u Bd: PC->adapter %.3f s, adapter->PC %.3f s, total %.3f s%s\n"
        "elapsed: %.3f s\n",
        static_cast<unsigned long long>(stats_.channelFrames + stats_.commandFrames),
        static_cast<unsigned long long>(stats_.channelFrames),
        static_cast<unsigned long long>(stats_.commandFrames),
        static_cast<unsigned long long>(stats_.badFrames),
        static_cast<unsigned long long>(stats_.repeatedFrames),
        static_cast<unsigned long long>(stats_.acks), static_cast<unsigned long long>(stats_.naks),
        static_cast<unsigned long long>(stats_.replies),
        static_cast<unsigned long long>(stats_.lostReplies),
        static_cast<unsigned long long>(stats_.faults),
        static_cast<unsigned long long>(line_.bytesFromPc()),
        static_cast<unsigned long long>(line_.bytesToPc()), baud, seconds(up), seconds(down),
        seconds(up + down), config_.baud != 0 ? " (line paced)" : " (line not paced)",
        seconds(now));
    std::string result = text;
    if (config_.baud != 0) {
        // How late the serving loop let the replies leave against the line model: what the
        // simulator adds to a burn beyond the wire itself.
        const SimTime wire = up + down;
        std::snprintf(
            text, sizeof text,
            "pacing lag: %.3f ms in all over %llu chunks (%.3f %% of the wire time), "
            "at most %lld us\n",
            static_cast<double>(line_.lagTotal()) / 1e3,
            static_cast<unsigned long long>(line_.chunksSent()),
            wire > 0 ? 100.0 * static_cast<double>(line_.lagTotal()) / static_cast<double>(wire)
                     : 0.0,
            static_cast<long long>(line_.lagMax()));
        result += text;
    }
    return result;
}

}  // namespace zq::sim
