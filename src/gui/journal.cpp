#include "gui/journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <vector>

#include "gui/update_check.h"
#include "os/sha256.h"
#include "support/byte_source.h"
#include "support/json_writer.h"
#include "support/text.h"

namespace zq {

bool JournalRecord::verified() const {
    if (parts.empty()) return false;
    for (const JournalPart& part : parts)
        if (!part.verified) return false;
    return true;
}

void describeImage(ByteSource& image, JournalPart& part) {
    Sha256 hash;
    std::vector<std::uint8_t> piece(64 * 1024);
    image.seekFromStart(0);
    std::uint64_t size = 0;
    while (image.remaining() != 0) {
        const std::uint32_t n =
            std::min(image.remaining(), static_cast<std::uint32_t>(piece.size()));
        // A file that shrinks under the program reads as what it delivered.
        if (!image.read(piece.data(), n)) break;
        hash.update(piece.data(), n);
        size += n;
    }
    image.seekFromStart(0);
    part.size = size;
    part.sha256 = Sha256::hex(hash.finish());
}

std::string isoUtcTime(std::int64_t msSinceEpoch) {
    using namespace std::chrono;
    const sys_time<milliseconds> time{milliseconds(msSinceEpoch)};
    const sys_days day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> clock{time - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()),
                  static_cast<int>(clock.subseconds().count()));
    return text;
}

std::string journalLine(const JournalRecord& record, std::string_view prev) {
    std::ostringstream line;
    {
        JsonWriter json(line);
        json.beginObject();
        json.field("v", kJournalFormat);
        json.field("time", isoUtcTime(record.startMs));
        json.field("duration_ms", record.durationMs);
        json.field("station", record.station);
        json.field("user", record.user);
        json.field("program", record.program);
        json.field("front_end", record.frontEnd);
        json.field("port", record.port);
        json.field("unit", record.unit);
        json.field("sw", record.sw);
        json.field("sw_name", record.swName);
        json.field("data_version", record.dataVersion);
        json.field("result", record.result);
        json.field("error", record.error);
        json.field("verified", record.verified());
        json.key("parts");
        json.beginArray();
        for (const JournalPart& part : record.parts) {
            json.beginObject();
            json.field("side", part.side);
            json.field("file", part.file);
            json.field("size", part.size);
            json.field("sha256", part.sha256);
            if (part.plID) {
                json.field("plid", formatText("0x%08X", *part.plID));
                json.field("platform", part.platform);
            }
            json.field("bytes_written", part.bytesWritten);
            json.field("retransmissions", part.retransmissions);
            json.endObject();
        }
        json.endArray();
        json.field("prev", prev);
        json.endObject();
    }
    // The writer ends a document with a line end; the journal adds its own.
    std::string text = line.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

std::filesystem::path journalPath(const std::filesystem::path& programDirectory) {
    const std::string configured =
        programDirectory.empty() ? std::string() : readJournalConfig(programDirectory);
    if (configured.empty()) return defaultJournalPath();
    const std::filesystem::path path(fromUtf8(configured));
    return path.is_absolute() ? path : programDirectory / path;
}

std::string appendToJournal(const std::filesystem::path& path, const JournalRecord& record,
                            std::chrono::milliseconds lockWait) {
    if (path.empty()) return "the system names no folder for the journal";
    return appendLockedLine(
        path,
        [&record](std::optional<std::string_view> last) {
            return journalLine(record, last ? sha256Hex(*last) : std::string(kFirstPrev));
        },
        lockWait);
}

}  // namespace zq
