#include "sim/trace_log.h"

#include <cstdio>

#include "support/json_writer.h"

namespace zq::sim {

std::string hex32(std::uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void TraceLog::record(const TraceEntry& entry) {
    if (out_ == nullptr) return;
    {
        JsonWriter json(*out_);
        json.beginObject();
        json.field("t_us", static_cast<std::int64_t>(entry.time));
        json.field("dir", entry.dir);
        json.field("op", entry.op);
        if (entry.channel) json.field("ch", *entry.channel);
        if (entry.level) json.field("level", *entry.level);
        if (entry.opcode) json.field("opcode", *entry.opcode);
        if (entry.address) json.field("addr", hex32(*entry.address));
        if (entry.length) json.field("len", *entry.length);
        if (entry.attempt) json.field("attempt", *entry.attempt);
        if (entry.status) json.field("status", *entry.status);
        if (entry.percent) json.field("percent", *entry.percent);
        if (entry.plid) json.field("plid", hex32(*entry.plid));
        if (!entry.detail.empty()) json.field("detail", entry.detail);
        json.key("fault");
        if (entry.fault.empty())
            json.null();
        else
            json.value(entry.fault);
        json.endObject();
    }
    out_->flush();
}

}  // namespace zq::sim
