#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "gui/journal.h"
#include "os/sha256.h"
#include "os/shell.h"
#include "support/text.h"

namespace zq::cli {

namespace {

using Json = nlohmann::json;

struct JournalOptions {
    std::string path;
    std::string since;
    std::string unit;
    bool csv = false;
    bool check = false;
};

// One line of the file as stored, and what it holds.
struct Line {
    std::size_t number = 0;  // from 1
    std::string text;
    bool complete = true;  // ended by a line end
    std::optional<Json> record;  // a JSON object with its chain link
};

// Characters, not bytes: station names and versions may be Czech.
std::size_t utf8Length(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool isRecord(const Json& value) {
    return value.is_object() && value.contains("prev") && value["prev"].is_string();
}

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        Line line;
        line.number = lines.size() + 1;
        line.complete = end != std::string::npos;
        line.text = text.substr(start, line.complete ? end - start : std::string::npos);
        Json value = Json::parse(line.text, nullptr, false);
        if (line.complete && isRecord(value)) line.record = std::move(value);
        lines.push_back(std::move(line));
        start = line.complete ? end + 1 : text.size();
    }
    return lines;
}

std::string stringField(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// "2026-12-07T09:15:02.345Z" as ms since 1970 UTC; none when it is not that shape.
std::optional<std::int64_t> parseUtcTime(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
    char zone = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &year, &month, &day, &hour,
                    &minute, &second, &ms, &zone) != 8 ||
        zone != 'Z')
        return std::nullopt;
    using namespace std::chrono;
    const year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                              std::chrono::day(static_cast<unsigned>(day))};
    if (!date.ok()) return std::nullopt;
    return (sys_days(date).time_since_epoch() + hours(hour) + minutes(minute) + seconds(second) +
            milliseconds(ms)) /
           milliseconds(1);
}

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM" (also with T) in local time, as ms since 1970 UTC.
std::optional<std::int64_t> parseLocalDate(const std::string& text) {
    std::tm when{};
    int hour = 0, minute = 0;
    char separator = 0;
    const int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d", &when.tm_year,
                                   &when.tm_mon, &when.tm_mday, &separator, &hour, &minute);
    if (fields != 3 && !(fields == 6 && (separator == 'T' || separator == ' '))) return std::nullopt;
    when.tm_year -= 1900;
    when.tm_mon -= 1;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&when);
    if (seconds == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<std::int64_t>(seconds) * 1000;
}

std::string localTime(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    const std::tm* local = std::localtime(&seconds);
    if (local == nullptr) return isoUtcTime(ms);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

std::string csvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

// A record may have been edited by hand: a field of another type reads as absent.
bool isTrue(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

std::string scalarText(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return {};
    if (found->is_string()) return found->get<std::string>();
    return found->dump();
}

int checkChain(const std::vector<Line>& lines, std::ostream& out) {
    std::string expected(kFirstPrev);
    std::size_t records = 0;
    std::size_t expectedFrom = 0;  // the line whose digest is expected; 0 before the first
    bool broken = false;
    bool mismatchShown = false;
    for (const Line& line : lines) {
        if (!line.record) {
            // A write cut short: the next record chains past it to the last whole one.
            out << "Line " << line.number << ": torn"
                << (line.complete ? " (a record cut short, or not a record)" : " (no line end)")
                << '\n';
            broken = true;
            continue;
        }
        ++records;
        if (stringField(*line.record, "prev") != expected && !mismatchShown) {
            out << "Line " << line.number << ": prev does not match "
                << (expectedFrom == 0 ? std::string("the start of the journal")
                                      : "line " + std::to_string(expectedFrom))
                << " (a record was changed, removed or inserted)\n";
            mismatchShown = true;
            broken = true;
        }
        expected = sha256Hex(line.text);
        expectedFrom = line.number;
    }
    if (broken) return kExitFailed;
    out << records << " records, chain intact\n";
    // The chain proves every record but the last; the last one's digest, noted elsewhere,
    // proves that one too.
    if (records != 0) out << "Last record: sha256 " << expected << '\n';
    return kExitDone;
}

void printTable(const std::vector<const Json*>& records, std::ostream& out) {
    const char* const header[] = {"time", "station", "unit", "sw", "result", "verified",
                                  "sha256"};
    std::vector<std::vector<std::string>> rows;
    rows.emplace_back(std::begin(header), std::end(header));
    for (const Json* record : records) {
        std::string digest;
        const auto parts = record->find("parts");
        if (parts != record->end() && parts->is_array() && !parts->empty())
            digest = stringField(parts->front(), "sha256").substr(0, 12);
        const std::optional<std::int64_t> time = parseUtcTime(stringField(*record, "time"));
        rows.push_back({time ? localTime(*time) : stringField(*record, "time"),
                        stringField(*record, "station"), stringField(*record, "unit"),
                        stringField(*record, "sw"), stringField(*record, "result"),
                        isTrue(*record, "verified") ? "yes" : "no", digest});
    }
    std::vector<std::size_t> widths(std::size(header), 0);
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], utf8Length(row[i]));
    for (const auto& row : rows) {
        std::string text;
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size()) text += std::string(widths[i] - utf8Length(row[i]) + 2, ' ');
        }
        out << text << '\n';
    }
}

void printCsv(const std::vector<const Json*>& records, std::ostream& out) {
    static const char* const kRecordFields[] = {
        "time", "duration_ms", "station", "user", "program", "front_end", "port", "unit",
        "sw", "sw_name", "data_version", "result", "error", "verified"};
    static const char* const kPartFields[] = {"side", "file", "size", "sha256", "plid",
                                              "platform", "bytes_written", "retransmissions"};
    std::string head;
    for (const char* field : kRecordFields) head += std::string(field) + ",";
    for (const char* field : kPartFields) head += std::string(field) + ",";
    head.pop_back();
    out << head << "\r\n";
    for (const Json* record : records) {
        std::string prefix;
        for (const char* field : kRecordFields) prefix += csvField(scalarText(*record, field)) + ",";
        const auto parts = record->find("parts");
        const bool hasParts = parts != record->end() && parts->is_array() && !parts->empty();
        if (!hasParts) {
            out << prefix << std::string(std::size(kPartFields) - 1, ',') << "\r\n";
            continue;
        }
        for (const Json& part : *parts) {
            std::string row = prefix;
            for (const char* field : kPartFields) row += csvField(scalarText(part, field)) + ",";
            row.pop_back();
            out << row << "\r\n";
        }
    }
}

int runJournal(CliContext& context, const JournalOptions& options) {
    const std::filesystem::path path = options.path.empty()
                                           ? journalPath(programDirectory())
                                           : std::filesystem::path(fromUtf8(options.path));
    const std::string where = toUtf8(path.wstring());
    std::optional<std::int64_t> since;
    if (!options.since.empty() && !(since = parseLocalDate(options.since))) {
        context.err << "zidavuvorud-cli: --since takes YYYY-MM-DD or YYYY-MM-DD HH:MM, not '"
                    << options.since << "'\n";
        return kExitUsage;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        context.err << "zidavuvorud-cli: no journal at " << where << '\n';
        return kExitFailed;
    }
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    if (file.bad()) {
        context.err << "zidavuvorud-cli: cannot read " << where << '\n';
        return kExitFailed;
    }
    const std::vector<Line> lines = splitLines(text);
    if (options.check) return checkChain(lines, context.out);

    std::vector<const Json*> records;
    for (const Line& line : lines) {
        if (!line.record) {
            context.err << where << ":" << line.number << ": not a whole record, left out\n";
            continue;
        }
        const Json& record = *line.record;
        if (!options.unit.empty() && !equalsIgnoringCase(stringField(record, "unit"), options.unit))
            continue;
        const std::optional<std::int64_t> time = parseUtcTime(stringField(record, "time"));
        if (since && (!time || *time < *since)) continue;
        if (context.json)
            context.out << line.text << '\n';
        else
            records.push_back(&record);
    }
    if (options.csv)
        printCsv(records, context.out);
    else if (!context.json)
        printTable(records, context.out);
    return kExitDone;
}

}  // namespace

void registerJournalCommand(CLI::App& app, CliContext& context) {
    auto shared = std::make_shared<JournalOptions>();
    JournalOptions& options = *shared;
    CLI::App* command = addCommand(
        app, context, "journal",
        "Show the programming journal, the record of every unit run, or check its chain",
        [&context, shared] { return runJournal(context, *shared); });
    command
        ->add_option("--path", options.path,
                     "The journal file (default: [journal] path of zidavuvorud.ini, else the "
                     "user's own)")
        ->option_text("FILE");
    command
        ->add_option("--since", options.since,
                     "Only runs begun at or after this local date (YYYY-MM-DD [HH:MM])")
        ->option_text("DATE");
    command->add_option("--unit", options.unit, "Only runs of this unit type")->option_text("NAME");
    CLI::Option* csv = command->add_flag("--csv", options.csv, "One row per part, for a spreadsheet");
    command->add_flag("--check", options.check,
                      "Walk the chain: every record must name the digest of the line before it")
        ->excludes(csv);
}

}  // namespace zq::cli
