#include "cli/wire_trace.h"

#include <sstream>
#include <utility>
#include <vector>

#include "support/json_writer.h"
#include "df1/commands.h"
#include "df1/df1_frame.h"

namespace zq::cli {

namespace {

// The writer wakes at this much or at this interval, whichever comes first.
constexpr std::size_t kFlushBytes = 64 * 1024;
constexpr std::chrono::milliseconds kFlushInterval{200};
constexpr std::size_t kReserve = 256 * 1024;

std::string hex(const std::uint8_t* bytes, std::uint32_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text(static_cast<std::size_t>(length) * 2, '0');
    for (std::uint32_t i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}

std::uint32_t le(const std::vector<std::uint8_t>& m, std::size_t at, std::size_t n) {
    std::uint32_t value = 0;
    for (std::size_t i = n; i-- > 0;) value = (value << 8) | m[at + i];
    return value;
}

struct OpInfo {
    std::uint8_t opcode;
    const char* name;
    bool reply;
    int lengthBytes;  // 4 or 2 at offset 6; 0: none
};

constexpr OpInfo kOps[] = {
    {op::kConnect, "CONNECT", false, 0},         {op::kErase, "ERASE", false, 4},
    {op::kUploadInit, "UPLOADINIT", false, 4},   {op::kWrite, "WRITE", false, 2},
    {op::kExec, "EXEC", false, 0},               {op::kCommand7, "COMMAND7", false, 0},
    {op::kRead, "READ", false, 2},               {op::kIdSearch, "IDSEARCH", false, 0},
    {op::kIdRead, "IDREAD", false, 0},           {op::kConnectReply, "CONNECT", true, 0},
    {op::kEraseReply, "ERASE", true, 4},         {op::kUploadInitReply, "UPLOADINIT", true, 4},
    {op::kWriteReply, "WRITE", true, 2},         {op::kExecReply, "EXEC", true, 0},
    {op::kCommand7Reply, "COMMAND7", true, 0},   {op::kReadReply, "READ", true, 2},
    {op::kReject, "REJECT", true, 0},            {op::kIdSearchReply, "IDSEARCH", true, 0},
    {op::kIdReadReply, "IDREAD", true, 0},
};

bool hasAddress(std::uint8_t opcode) {
    switch (opcode) {
        case op::kErase: case op::kUploadInit: case op::kWrite: case op::kRead: case op::kExec:
        case op::kEraseReply: case op::kUploadInitReply: case op::kWriteReply:
        case op::kReadReply: case op::kExecReply:
            return true;
        default:
            return false;
    }
}

// The fields of a command or a reply message, as far as the message holds them.
void decodeMessage(JsonWriter& json, const std::vector<std::uint8_t>& m, bool toAdapter) {
    if (m.empty()) return;
    if (toAdapter) {
        json.field("kind", "channel");
        json.field("channel", static_cast<int>(m[0]) - kChannelBase);
        return;
    }
    const OpInfo* info = nullptr;
    for (const OpInfo& candidate : kOps)
        if (candidate.opcode == m[0]) info = &candidate;
    if (info == nullptr) {
        // The adapter's own answer to the channel switch is plain text.
        const std::string text(m.begin(), m.end());
        json.field("kind", text == kChannelAnswer ? "channel" : "unknown");
        json.field("opcode", static_cast<unsigned>(m[0]));
        return;
    }
    json.field("kind", info->reply ? "reply" : "command");
    json.field("op", info->name);
    json.field("opcode", static_cast<unsigned>(m[0]));
    if (m.size() >= 2 && info->reply) json.field("status", static_cast<unsigned>(m[1]));
    if (hasAddress(m[0]) && m.size() >= 6) json.field("address", le(m, 2, 4));
    if (info->lengthBytes != 0 && m.size() >= 6u + info->lengthBytes)
        json.field("length", le(m, 6, static_cast<std::size_t>(info->lengthBytes)));
    if (m[0] == op::kConnectReply && m.size() >= 7) json.field("level", static_cast<unsigned>(m[6]));
    if (m[0] == op::kEraseReply && m.size() >= 11)
        json.field("percent", static_cast<unsigned>(m[10]));
    // What a read-back found: the data between the length and the message's CRC.
    if (m[0] == op::kReadReply && m.size() >= 10 && m[1] == kStatusOk)
        json.field("data", hex(m.data() + 8, static_cast<std::uint32_t>(m.size() - 10)));
}

// The frame address and message of an outgoing frame: DLE STX, address and data with DLE
// doubled, DLE ETX, CRC.
bool unframe(const std::uint8_t* frame, std::uint32_t length, std::vector<std::uint8_t>& out) {
    if (length < 4 || frame[0] != kDle || frame[1] != kStx) return false;
    for (std::uint32_t i = 2; i + 1 < length; ++i) {
        if (frame[i] != kDle) {
            out.push_back(frame[i]);
        } else if (frame[i + 1] == kDle) {
            out.push_back(kDle);
            ++i;
        } else {
            return frame[i + 1] == kEtx && !out.empty();
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<WireTrace> WireTrace::create(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "zidavuvorud-cli: cannot create the trace file '" + path + "'";
        return nullptr;
    }
    return std::unique_ptr<WireTrace>(new WireTrace(file));
}

WireTrace::WireTrace(std::FILE* file) : file_(file) {
    pending_.reserve(kReserve);
    writer_ = std::thread([this] { drain(); });
}

WireTrace::~WireTrace() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    std::fclose(file_);
}

void WireTrace::drain() {
    std::string batch;
    batch.reserve(kReserve);
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait_for(guard, kFlushInterval,
                       [this] { return stopping_ || pending_.size() >= kFlushBytes; });
        batch.swap(pending_);
        const bool last = stopping_;
        guard.unlock();
        if (!batch.empty()) {
            std::fwrite(batch.data(), 1, batch.size(), file_);
            std::fflush(file_);
            batch.clear();
        }
        if (last) return;
        guard.lock();
    }
}

void WireTrace::emit(const char* event, const std::function<void(JsonWriter&)>& fields) {
    bool full = false;
    {
        // The time is taken under the lock, so that the lines of the GUI thread and of the
        // timer thread stay in the order of their time stamps.
        std::lock_guard<std::mutex> guard(lock_);
        std::ostringstream out;
        {
            JsonWriter json(out);
            json.beginObject();
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - start_);
            json.field("t_us", static_cast<std::int64_t>(us.count()));
            json.field("event", event);
            fields(json);
            json.endObject();
        }
        pending_ += out.str();
        full = pending_.size() >= kFlushBytes;
    }
    if (full) wake_.notify_one();
}

void WireTrace::frameOut(const std::uint8_t* frame, std::uint32_t length, std::uint32_t attempt) {
    emit("frame", [&](JsonWriter& json) {
        json.field("dir", "out");
        json.field("attempt", attempt);
        json.field("hex", hex(frame, length));
        std::vector<std::uint8_t> content;
        if (!unframe(frame, length, content)) return;
        json.field("df1", static_cast<unsigned>(content[0]));
        const std::vector<std::uint8_t> message(content.begin() + 1, content.end());
        decodeMessage(json, message, content[0] == kAddressAdapter);
    });
}

void WireTrace::bytesIn(const std::uint8_t* bytes, std::uint32_t length) {
    emit("rx", [&](JsonWriter& json) { json.field("hex", hex(bytes, length)); });
}

void WireTrace::acknowledgement(bool refused) {
    emit(refused ? "nak" : "ack", [](JsonWriter&) {});
}

void WireTrace::frameIn(const std::uint8_t* message, std::uint32_t length, const char* fault) {
    emit("frame", [&](JsonWriter& json) {
        json.field("dir", "in");
        if (fault != nullptr) {
            json.field("fault", fault);
            return;
        }
        json.field("hex", hex(message, length));
        decodeMessage(json, std::vector<std::uint8_t>(message, message + length), false);
    });
}

void WireTrace::timeout(std::uint32_t attempt) {
    emit("timeout", [&](JsonWriter& json) { json.field("attempt", attempt); });
}

void WireTrace::exchangeEnded(TxnState state) {
    emit("end", [&](JsonWriter& json) { json.field("state", txnStateName(state)); });
}

void WireTrace::notification(const Notification& n) {
    emit("notification", [&](JsonWriter& json) {
        json.field("message", n.message == WM_COM_RXDATA    ? "WM_COM_RXDATA"
                              : n.message == WM_COM_ERROR   ? "WM_COM_ERROR"
                              : n.message == WM_COM_TIMEOUT ? "WM_COM_TIMEOUT"
                                                            : "other");
        json.field("wparam", static_cast<std::int64_t>(n.wParam));
        json.field("lparam", static_cast<std::int64_t>(n.lParam));
    });
}

void WireTrace::engine(const ProgrammingEngine* engine) {
    if (engine == nullptr) return;
    const auto state = static_cast<std::int64_t>(engine->state());
    const auto step = static_cast<std::int64_t>(engine->currentStep());
    if (state == lastState_ && step == lastStep_ && engine->infoText() == lastInfo_) return;
    lastState_ = state;
    lastStep_ = step;
    lastInfo_ = engine->infoText();
    emit("engine", [&](JsonWriter& json) {
        json.field("state", engineStateName(engine->state()));
        json.field("step", engineStepName(engine->currentStep()));
        if (!engine->infoText().empty()) json.field("info", engine->infoText());
        if (engine->state() == EngineState::Failed) json.field("error", engine->errorText());
    });
}

void WireTrace::outcome(const std::string& text, const std::string& error) {
    emit("result", [&](JsonWriter& json) {
        json.field("text", text);
        if (!error.empty()) json.field("error", error);
    });
}

}  // namespace zq::cli
