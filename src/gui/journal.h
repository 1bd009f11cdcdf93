#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/locked_append.h"

namespace zq {

// The programming journal: one line of JSON per ended run of a unit, each naming the SHA-256
// of the line before it, so that a record changed, removed or inserted afterwards breaks the
// chain. Several programs, on this station or others through a share, append to one file.
inline constexpr int kJournalFormat = 1;
inline constexpr const char* kJournalFileName = "journal.jsonl";
// The prev of the first record.
inline constexpr std::string_view kFirstPrev =
    "0000000000000000000000000000000000000000000000000000000000000000";

// One processor or module of a run, whether it was reached or not.
struct JournalPart {
    std::string side;  // "single", "A", "B", "left" or "right"
    std::string file;  // as config.ini names it
    std::uint64_t size = 0;
    std::string sha256;  // of the file as it was opened for the run
    // As the connect reported them; none when the run never got that far.
    std::optional<std::uint32_t> plID;
    std::string platform;
    std::uint64_t bytesWritten = 0;
    std::uint64_t retransmissions = 0;
    bool verified = false;  // not a field of its own: the record's `verified` sums it up
};

struct JournalRecord {
    std::int64_t startMs = 0;  // when the run began, ms since 1970-01-01 00:00 UTC
    std::int64_t durationMs = 0;
    std::string station;
    std::string user;
    std::string program;
    std::string frontEnd;  // "window" or "cli"
    std::string port;
    std::string unit;
    std::string sw;
    std::string swName;
    std::string dataVersion;
    std::string result;  // "done", "error" or "aborted"
    std::string error;   // the engine's text; empty when done
    std::vector<JournalPart> parts;

    // True only when every part was verified.
    bool verified() const;
};

class ByteSource;

// The size and SHA-256 of everything in the source; it is left at its start.
void describeImage(ByteSource& image, JournalPart& part);

// The record as its line in the journal, without the line end.
std::string journalLine(const JournalRecord& record, std::string_view prev);

// "2026-12-07T09:15:02.345Z".
std::string isoUtcTime(std::int64_t msSinceEpoch);

// The journal's place: `path` of [journal] in zidavuvorud.ini in the program's folder (a
// relative path counts from there), else the per-user default of defaultJournalPath().
std::filesystem::path journalPath(const std::filesystem::path& programDirectory);
// %LOCALAPPDATA%\Trevik\RedivuvizerER\journal.jsonl on Windows; on POSIX
// $XDG_STATE_HOME/Trevik/RedivuvizerER/journal.jsonl (~/.local/state when unset). Empty when
// the system names no such folder.
std::filesystem::path defaultJournalPath();

// Appends the record, chained to the journal's last complete line. Empty when it is on the
// disk, else why not.
std::string appendToJournal(const std::filesystem::path& path, const JournalRecord& record,
                            std::chrono::milliseconds lockWait = kAppendLockWait);

}  // namespace zq
