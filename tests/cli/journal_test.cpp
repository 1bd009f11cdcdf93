// zidavuvorud-cli journal: the records for a person, a spreadsheet and a program, and the
// chain walk that finds a record changed, removed or inserted afterwards, and a torn line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "common/temp_dir.h"
#include "gui/journal.h"

namespace zq::cli {
namespace {

std::vector<std::string> fileLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void writeLines(const std::filesystem::path& path, const std::vector<std::string>& lines) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
}

JournalRecord record(const std::string& unit, int parts) {
    JournalRecord r;
    r.startMs = 0;
    r.station = "DILNA-2";
    r.user = "technik";
    r.program = "1.02";
    r.frontEnd = "cli";
    r.port = "COM5";
    r.unit = unit;
    r.sw = "SW31";
    r.swName = "Verze 3.1, \"nová\"";
    r.dataVersion = "3.1";
    r.result = "done";
    for (int i = 0; i < parts; ++i) {
        JournalPart part;
        part.side = parts == 1 ? "single" : i == 0 ? "A" : "B";
        part.file = unit + std::to_string(i) + ".elf";
        part.size = 100u + static_cast<unsigned>(i);
        part.sha256 = std::string(63, static_cast<char>('a' + i)) + "0";
        part.plID = 0x20000001;
        part.platform = "MPC8270";
        part.bytesWritten = 90;
        part.verified = true;
        r.parts.push_back(part);
    }
    return r;
}

class JournalCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* units[] = {"KRAB101", "KREF10x", "KRAB101", "KRGH101"};
        for (int i = 0; i < 4; ++i) {
            JournalRecord r = record(units[i], i == 1 ? 2 : 1);
            r.startMs = kDay * (20000 + i);  // 2024-10-04 ... 07, midnight UTC
            ASSERT_EQ(appendToJournal(path(), r), "");
        }
    }

    std::filesystem::path path() const { return dir.path() / "journal.jsonl"; }

    CliResult journal(std::vector<std::string> extra) {
        std::vector<const char*> args{"journal", "--path", pathText_.c_str()};
        for (const std::string& a : extra) args.push_back(a.c_str());
        return runCli(args);
    }

    static constexpr std::int64_t kDay = 86400000;
    testing::TempDir dir;

private:
    std::string pathText_ = path().string();
};

TEST_F(JournalCommandTest, ShowsTheRecordsAsATableCsvOrAsStored) {
    CliResult r = journal({"--unit", "krab101"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    std::istringstream table(r.out);
    std::string header, first, second, more;
    std::getline(table, header);
    std::getline(table, first);
    std::getline(table, second);
    EXPECT_FALSE(std::getline(table, more)) << "only the KRAB101 runs";
    EXPECT_EQ(header.substr(0, 4), "time");
    EXPECT_NE(header.find("station  unit     sw    result  verified  sha256"), std::string::npos)
        << header;
    EXPECT_NE(first.find("DILNA-2  KRAB101  SW31  done    yes       aaaaaaaaaaaa"),
              std::string::npos)
        << first;

    // Local midnight of the day after the first run excludes it, wherever the test runs.
    r = journal({"--since", "2024-10-05", "--csv"});
    ASSERT_EQ(r.code, kExitDone) << r.err;
    std::istringstream csv(r.out);
    std::vector<std::string> rows;
    for (std::string row; std::getline(csv, row);) rows.push_back(row);
    ASSERT_GE(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0].substr(0, 17), "time,duration_ms,");
    EXPECT_NE(rows[0].find(",side,file,size,sha256,plid,platform,bytes_written,retransmissions"),
              std::string::npos);
    // The KREF10x run has a row per processor, and a field with a quote and a comma is quoted.
    EXPECT_NE(r.out.find("KREF10x,SW31,\"Verze 3.1, \"\"nová\"\"\",3.1,done,,true,A,KREF10x0.elf,"
                         "100,"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(",B,KREF10x1.elf,101,"), std::string::npos);

    r = journal({"--json"});
    ASSERT_EQ(r.code, kExitDone);
    std::string stored;
    for (const std::string& line : fileLines(path())) stored += line + "\n";
    EXPECT_EQ(r.out, stored);

    EXPECT_EQ(journal({"--since", "yesterday"}).code, kExitUsage);
    EXPECT_EQ(runCli({"journal", "--path", (dir.path() / "none.jsonl").string().c_str()}).code,
              kExitFailed);
}

TEST_F(JournalCommandTest, CheckFindsEveryChangeToTheChain) {
    CliResult r = journal({"--check"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "4 records, chain intact");

    const std::vector<std::string> lines = fileLines(path());
    struct Case {
        const char* what;
        std::vector<std::string> lines;
        std::string torn;
        std::string report;
    };
    std::vector<std::string> changed = lines;
    changed[1].replace(changed[1].find("KREF10x"), 7, "KREF109");
    std::vector<std::string> removed = lines;
    removed.erase(removed.begin() + 1);
    std::vector<std::string> inserted = lines;
    inserted.insert(inserted.begin() + 2, lines[0]);
    const Case cases[] = {
        {"changed", changed, "", "Line 3: prev does not match line 2 (a record was changed, "
                                 "removed or inserted)\n"},
        {"removed", removed, "", "Line 2: prev does not match line 1 (a record was changed, "
                                 "removed or inserted)\n"},
        {"inserted", inserted, "", "Line 3: prev does not match line 2 (a record was changed, "
                                   "removed or inserted)\n"},
        {"torn", lines, "{\"v\":1,\"time\":\"2024-", "Line 5: torn (no line end)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeLines(path(), c.lines);
        if (!c.torn.empty()) std::ofstream(path(), std::ios::binary | std::ios::app) << c.torn;
        r = journal({"--check"});
        EXPECT_EQ(r.code, kExitFailed);
        EXPECT_EQ(r.out, c.report);
    }

    // The next append after the torn line starts a line of its own and chains past it.
    ASSERT_EQ(appendToJournal(path(), record("KRAB101", 1)), "");
    r = journal({"--check"});
    EXPECT_EQ(r.code, kExitFailed);
    EXPECT_EQ(r.out, "Line 5: torn (a record cut short, or not a record)\n");
}

}  // namespace
}  // namespace zq::cli
