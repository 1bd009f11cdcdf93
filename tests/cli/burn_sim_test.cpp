// zidavuvorud-cli burn against kvsb-sim on a pseudo-terminal, with the example RT19_bin: what
// the command line adds to a run (its output, --sw, --json, --trace, Ctrl-C, a line that goes
// away). Every unit type is burnt through the windows and under Wine; here the left/right unit,
// the one with a pause, after whose "Hotovo" the simulator's memory equals the images.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "common/fake_sysfs.h"
#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "sim/sim_process.h"
#include "support/string_table.h"
#include "support/vyjimka.h"

namespace zq::testing {
namespace {

using sim::testing::SimProcess;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class BurnSimTest : public cli::BurnCliTest {
protected:
    // kvsb-sim with quick erases and modules that power up at once.
    // once: the simulator ends when the program lets go of the line; else it serves one run
    // after the other, its flash kept, until it is told to end.
    void startSim(std::vector<std::string> extra = {}, const std::string& eraseMs = "20",
                  bool once = true) {
        std::vector<std::string> args{
            "--power-on-ms", "0",       "--erase-ms",    eraseMs, "--erase-steps", "4", "--dump",
            dump().string(), "--trace", trace().string()};
        if (once) args.insert(args.begin(), "--once");
        once_ = once;
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<SimProcess>(args);
        ASSERT_FALSE(sim->path().empty());
    }

    cli::CliResult burn(const std::string& unit, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"burn", "--port", sim->path(), "--unit", unit, "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        cli::CliResult r = cli::runCliIn(ZQ_EXAMPLES_DIR, args);
        // The program has let go of the line: the simulator writes its dump and ends.
        if (once_) {
            EXPECT_EQ(sim->wait(), 0);
        }
        return r;
    }

    // compare_dump: the module's dump equals the image in every Flash and Aux range.
    void expectBurned(const std::string& folder, const std::string& file, const char* plID) {
        const std::string command = std::string(ZQ_COMPARE_DUMP) + " " + ZQ_EXAMPLES_DIR +
                                    "/RT19_bin/" + file + " " + plID + " " +
                                    (dump() / folder).string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    cli::CliResult check(const std::string& unit, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"check", "--port", sim->path(), "--unit", unit, "--yes"};
        args.insert(args.end(), extra.begin(), extra.end());
        return cli::runCliIn(ZQ_EXAMPLES_DIR, args);
    }

    std::filesystem::path dump() const { return files.path() / "dump"; }
    std::filesystem::path trace() const { return files.path() / "trace.jsonl"; }

    TempDir files;
    std::unique_ptr<SimProcess> sim;
    bool once_ = true;
};

// The unit and the version are found by their names ignoring case.
TEST_F(BurnSimTest, BurnsTheLeftRightUnitWithItsPromptsAndTheMemoryEqualsTheImages) {
    startSim({"--plid", "0x10000100", "--second-module", "--plid-second", "0x10000100"});
    cli::CliResult r = burn("krcd101", {"--sw", "sw30"});
    EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Obsluha: ", 0), 0u) << r.out;
    for (const std::string& prompt : {formatString(kStrConnectLeftPrompt, "KRCD101"),
                                      formatString(kStrMoveToRightPrompt, "KRCD101"),
                                      std::string("Zasuňte pravý modul KRCD101")})
        EXPECT_NE(r.out.find("Obsluha: " + prompt + "\n"), std::string::npos) << prompt;
    ASSERT_GE(r.out.size(), 33u);
    EXPECT_EQ(r.out.substr(r.out.size() - 33), "Burn operation successful\nHotovo\n");
    expectBurned("ch1", "krcd101_l_30.omf", "0x10000100");
    expectBurned("ch1-second", "krcd101_r_30.omf", "0x10000100");
}

// A weak cell takes its WRITE and answers as a good one: only the read-back finds it, and the
// run ends "Chyba" naming the cell, never "Hotovo". A sound module ends "Hotovo".
TEST_F(BurnSimTest, VerifyFindsTheWeakCellThatTheWritesHid) {
    startSim({"--fault", "weak-cell,level=2,n=3,byte=1,bit=4"});
    cli::CliResult r = burn("KRAB101", {"--verify"});
    EXPECT_EQ(r.code, cli::kExitFailed) << r.out << r.err;
    const std::string simTrace = fileText(trace());
    const std::size_t at = simTrace.find("\"detail\":\"bit 4 of 0x");
    ASSERT_NE(at, std::string::npos) << simTrace;
    const std::string cell = simTrace.substr(at + 19, 10);
    EXPECT_NE(r.out.find("Chyba: Verify failed at " + cell + ": image 0x"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("Hotovo"), std::string::npos) << r.out;

    startSim();
    const std::filesystem::path wire = files.path() / "wire.jsonl";
    r = burn("KRAB101", {"--verify", "--trace", wire.string()});
    EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
    EXPECT_NE(r.out.find("Verifying memory range 0x00010000 - 0x00010BFF"), std::string::npos)
        << r.out;
    expectBurned("ch1", "krab101_31.omf", "0x10000001");
    // The trace shows what was read back: the module's bytes, as its dump has them.
    const std::string flash = fileText(dump() / "ch1" / "00010000.bin").substr(0, 4);
    char first[9];
    std::snprintf(first, sizeof first, "%02x%02x%02x%02x", static_cast<std::uint8_t>(flash[0]),
                  static_cast<std::uint8_t>(flash[1]), static_cast<std::uint8_t>(flash[2]),
                  static_cast<std::uint8_t>(flash[3]));
    EXPECT_NE(fileText(wire).find("\"op\":\"READ\",\"opcode\":248,\"status\":1,\"address\":65536,"
                                  "\"length\":493,\"data\":\"" +
                                  std::string(first)),
              std::string::npos);
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Four stations burning at once into one journal on a share.
TEST_F(BurnSimTest, FourBurnsAtOnceLeaveFourWholeRecordsInOneChain) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    const std::filesystem::path state = files.path() / "state";
    std::string command = "cd " ZQ_EXAMPLES_DIR " && export XDG_STATE_HOME=" + state.string() + " && {";
    for (int i = 0; i < 4; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--once", "--power-on-ms", "0", "--erase-ms", "20"}));
        const std::string out = (files.path() / ("out" + std::to_string(i))).string();
        command += " (" ZQ_CLI " burn --port " + sims.back()->path() + " --unit KRAB101 --yes > " +
                   out + " 2>&1; echo $? >> " + out + ") &";
    }
    command += " wait; }";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (int i = 0; i < 4; ++i) {
        const std::string out = fileText(files.path() / ("out" + std::to_string(i)));
        EXPECT_NE(out.find("Hotovo\n0\n"), std::string::npos) << out;
        EXPECT_EQ(sims[static_cast<std::size_t>(i)]->wait(), 0);
    }
    const std::filesystem::path journal = state / "Trevik" / "RedivuvizerER" / "journal.jsonl";
    const std::string text = fileText(journal);
    EXPECT_EQ(count(text, "\n"), 4u) << text;
    EXPECT_EQ(count(text, "\"result\":\"done\""), 4u) << text;
    for (const auto& each : sims) EXPECT_EQ(count(text, "\"port\":\"" + each->path() + "\""), 1u);
    cli::CliResult r = cli::runCli({"journal", "--check", "--path", journal.c_str()});
    EXPECT_EQ(r.code, cli::kExitDone);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "4 records, chain intact");
}

// Points the journal of the runs in this process elsewhere while it lives.
class ScopedStateHome {
public:
    explicit ScopedStateHome(const std::filesystem::path& home) {
        const char* saved = std::getenv("XDG_STATE_HOME");
        saved_ = saved != nullptr ? saved : "";
        setenv("XDG_STATE_HOME", home.c_str(), 1);
    }
    ~ScopedStateHome() { setenv("XDG_STATE_HOME", saved_.c_str(), 1); }
    ScopedStateHome(const ScopedStateHome&) = delete;
    ScopedStateHome& operator=(const ScopedStateHome&) = delete;

private:
    std::string saved_;
};

// A workshop's delivery: one unit after the other on the open port, each its own record.
TEST_F(BurnSimTest, ASeriesBurnsUnitAfterUnitUntilItsCountOrQ) {
    const ScopedStateHome home(files.path() / "state");
    startSim({}, "20", false);
    cli::CliResult r = burn("KRAB101", {"--series", "5", "--yes"});
    EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
    EXPECT_EQ(count(r.out, "Hotovo\n"), 5u);
    EXPECT_EQ(count(r.out, "Obsluha: Připojte další jednotku\n"), 4u);
    EXPECT_NE(r.out.find("Unit 5: done in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Series: 5 units, 5 done, 0 failed, 0 aborted; per unit median "),
              std::string::npos)
        << r.out;
    const std::filesystem::path journal =
        files.path() / "state" / "Trevik" / "RedivuvizerER" / "journal.jsonl";
    EXPECT_EQ(count(fileText(journal), "\"result\":\"done\""), 5u);

    // Without --yes: Enter for the first unit and the next one, then q ends the series.
    std::istringstream input("\n\nq\n");
    std::streambuf* keyboard = std::cin.rdbuf(input.rdbuf());
    r = cli::runCliIn(ZQ_EXAMPLES_DIR, {"burn", "--port", sim->path(), "--unit", "KRAB101",
                                        "--series", "0", "--json"});
    std::cin.rdbuf(keyboard);
    EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
    EXPECT_EQ(count(r.out, "{\"event\":\"unit\",\"n\":"), 2u) << r.out;
    EXPECT_NE(r.out.find("{\"event\":\"series\",\"units\":2,\"done\":2,\"failed\":0,"
                         "\"aborted\":0,\"median_ms\":"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(count(fileText(journal), "\"result\":\"done\""), 7u);
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->wait(), 0);
}

// A journal that cannot be written changes no result, and is never silent.
TEST_F(BurnSimTest, AJournalThatCannotBeWrittenIsToldAndADoneBurnExitsThree) {
    const std::filesystem::path blocker = files.write("state", "");
    const ScopedStateHome home(blocker);
    const std::string told =
        "Záznam o programování se nepodařilo uložit: cannot create the folder " +
        (blocker / "Trevik" / "RedivuvizerER").string();

    startSim();
    cli::CliResult r = burn("KRAB101", {"--json"});
    EXPECT_EQ(r.code, cli::kExitNotRecorded);
    EXPECT_EQ(r.err.rfind(told, 0), 0u) << r.err;
    EXPECT_NE(r.out.find("{\"event\":\"journal\",\"error\":\"" + told), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"ok\":true,\"exitCode\":3,"),
              std::string::npos)
        << r.out;
    expectBurned("ch1", "krab101_31.omf", "0x10000001");

    startSim({"--fault", "status,on=write,level=2,n=1,value=3"});
    r = burn("KRAB101");
    EXPECT_EQ(r.code, cli::kExitFailed) << "a failed run stays failed";
    EXPECT_EQ(r.err.rfind(told, 0), 0u) << r.err;
    EXPECT_EQ(r.out.rfind("Chyba"), r.out.rfind('\n', r.out.size() - 2) + 1) << r.out;
}


// A module that comes back from the field: which version it holds, read without a change.
// Versions 3.0 and 3.1 of the two-processor unit differ in one byte of each range.
TEST_F(BurnSimTest, CheckTellsWhichVersionTheModulesHoldWithoutChangingThem) {
    startSim({"--plid", "0x20000001"}, "20", false);
    ASSERT_EQ(burn("KREF10x", {"--sw", "SW30"}).code, cli::kExitDone);
    // What changes flash: the daemon's WRITEs and ERASE.
    auto changes = [this] {
        const std::string served = fileText(trace());
        return count(served, "\"op\":\"WRITE\",\"ch\":0,\"level\":2") +
               count(served, "\"op\":\"WRITE\",\"ch\":1,\"level\":2") +
               count(served, "\"op\":\"ERASE\"");
    };
    const std::size_t burnt = changes();

    cli::CliResult r = check("KREF10x", {"--any"});
    EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
    for (const char* line :
         {"\nA, plID 0x20000001, SW30 (Verze 3.0): 0xFF000000 - 0xFF00063B equal\n",
          "\nB, plID 0x20000001, SW30 (Verze 3.0): 0x80500000 - 0x8050003F equal\n",
          "\nB, plID 0x20000001, SW31 (Verze 3.1): 0x80500000 - 0x8050003F 1 byte differs, first "
          "at 0x80500029\n",
          "\nHeld: SW30 (Verze 3.0)\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
    EXPECT_EQ(r.out.find("Hotovo"), std::string::npos) << r.out;
    // Both versions from one read: a range of 64 and one of 1596 bytes, per processor.
    const std::string served = fileText(trace());
    EXPECT_EQ(count(served, "\"dir\":\"pc\",\"op\":\"READ\",\"ch\":0,\"level\":2"), 5u);
    EXPECT_EQ(count(served, "\"dir\":\"pc\",\"op\":\"READ\",\"ch\":1,\"level\":2"), 5u);
    EXPECT_EQ(changes(), burnt);

    r = check("KREF10x", {"--json"});
    EXPECT_EQ(r.code, cli::kExitFailed) << r.out;
    EXPECT_NE(r.out.find("{\"event\":\"check\",\"side\":\"A\",\"plid\":\"0x20000001\","
                         "\"sw\":\"SW31\",\"first\":4278190080,\"last\":4278191675,"
                         "\"bytes\":1596,\"differences\":1,\"firstDifference\":4278190137}"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.rfind("{")),
              "{\"event\":\"result\",\"ok\":false,\"exitCode\":1,\"held\":[]}\n");
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->wait(), 0);
}

// A weak cell after a burn without --verify: "Hotovo", and the check finds the cell and counts
// it. A daemon without READ cannot be checked, and says so.
TEST_F(BurnSimTest, CheckCountsWhatDiffersAndNeedsTheDaemonsRead) {
    startSim({"--fault", "weak-cell,level=2,n=4,byte=7,bit=0"}, "20", false);
    ASSERT_EQ(burn("KRAB101").code, cli::kExitDone);
    const std::string simTrace = fileText(trace());
    const std::size_t at = simTrace.find("\"detail\":\"bit 0 of 0x");
    ASSERT_NE(at, std::string::npos) << simTrace;
    const cli::CliResult r = check("KRAB101", {"--sw", "SW31"});
    EXPECT_EQ(r.code, cli::kExitFailed) << r.out << r.err;
    EXPECT_NE(r.out.find("single, plID 0x10000001, SW31 (Verze 3.1): 0x00010000 - 0x00010BFF 1 "
                         "byte differs, first at " +
                         simTrace.substr(at + 19, 10) + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 12), "\nHeld: none\n");
    sim->signal(SIGTERM);
    EXPECT_EQ(sim->wait(), 0);

    startSim({"--no-read"});
    const cli::CliResult refused = check("KRAB101");
    EXPECT_EQ(sim->wait(), 0);
    EXPECT_EQ(refused.code, cli::kExitFailed);
    EXPECT_NE(
        refused.out.find("Chyba: Check not possible: the daemon refused READ at 0x00010000\n"),
        std::string::npos)
        << refused.out;
}

TEST_F(BurnSimTest, JsonGivesOneObjectPerEvent) {
    startSim({"--fault", "status,on=write,level=2,n=2,value=3"});
    cli::CliResult r = burn("KRAB101", {"--json"});
    EXPECT_EQ(r.code, cli::kExitFailed);
    std::istringstream lines(r.out);
    std::vector<std::string> kinds;
    for (std::string line; std::getline(lines, line);) {
        ASSERT_EQ(line.rfind("{\"event\":\"", 0), 0u) << line;
        ASSERT_EQ(line.back(), '}') << line;
        kinds.push_back(line.substr(10, line.find('"', 10) - 10));
    }
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), "prompt");
    EXPECT_EQ(kinds.back(), "result");
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "progress"), kinds.end());
    EXPECT_NE(r.out.find("{\"event\":\"message\",\"id\":" + std::to_string(kStrError) +
                         ",\"text\":\"Chyba\"}"),
              std::string::npos);
    EXPECT_NE(r.out.find("{\"event\":\"result\",\"ok\":false,\"exitCode\":1,\"text\":\"Chyba\","
                         "\"error\":\"Error while writing 496 bytes to 0x000101F0\"}"),
              std::string::npos)
        << r.out;
}

// A number of a JSON line; -1 for null or none.
long long jsonNumber(const std::string& line, const std::string& key) {
    const std::size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos || line.compare(at + key.size() + 3, 4, "null") == 0) return -1;
    return std::stoll(line.substr(at + key.size() + 3));
}

// One count for both processors of a two-processor unit, known before A's first erase and
// reaching its total when B is done; the time left once a rate is known, from the erases.
TEST_F(BurnSimTest, JsonProgressCountsTheWholeUnitWithTheTimeLeft) {
    startSim({"--plid", "0x20000001"}, "1500");
    const cli::CliResult r = burn("KREF10x", {"--json"});
    ASSERT_EQ(r.code, cli::kExitDone) << r.out;
    std::istringstream lines(r.out);
    std::vector<std::string> progress;
    long long total = -1, beforeB = -1, etas = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"text\":\"B: ") != std::string::npos && beforeB < 0 && !progress.empty())
            beforeB = jsonNumber(progress.back(), "bytes_done");
        if (line.rfind("{\"event\":\"progress\"", 0) != 0) continue;
        progress.push_back(line);
        if (total < 0) total = jsonNumber(line, "bytes_total");
        EXPECT_EQ(jsonNumber(line, "bytes_total"), total) << line;
        EXPECT_NE(line.find("\"eta_s\":"), std::string::npos) << line;
        if (jsonNumber(line, "eta_s") > 0) ++etas;
    }
    ASSERT_FALSE(progress.empty()) << r.out;
    EXPECT_GT(beforeB, 0) << r.out;
    EXPECT_LT(beforeB, total) << r.out;
    EXPECT_GT(etas, 0) << r.out;
    EXPECT_EQ(progress.back(),
              "{\"event\":\"progress\",\"percent\":100,\"bytes_done\":" + std::to_string(total) +
                  ",\"bytes_total\":" + std::to_string(total) + ",\"eta_s\":0}");
}

TEST_F(BurnSimTest, TheWireTraceShowsEveryExchangeInOrder) {
    // The second WRITE's reply breaks on the way: the trace must show it and the resend.
    startSim({"--fault", "frame-crc,on=write,level=2,n=2"});
    const std::filesystem::path wire = files.path() / "wire.jsonl";
    ASSERT_EQ(burn("KRAB101", {"--trace", wire.string()}).code, cli::kExitDone);
    std::istringstream lines(fileText(wire));
    std::int64_t last = -1;
    std::string all;
    for (std::string line; std::getline(lines, line); all += line + "\n") {
        ASSERT_EQ(line.rfind("{\"t_us\":", 0), 0u) << line;
        ASSERT_EQ(line.back(), '}') << line;
        const std::int64_t t = std::stoll(line.substr(8));
        EXPECT_GE(t, last) << line;
        last = t;
    }
    for (const char* expected :
         {"\"dir\":\"out\",\"attempt\":0,\"hex\":\"100200621003",  // DLE STX 0 'b' DLE ETX
          "\"df1\":0,\"kind\":\"channel\",\"channel\":1}",
          "\"dir\":\"in\",\"hex\":\"5354415254",  // the adapter's START answer
          "\"df1\":1,\"kind\":\"command\",\"op\":\"WRITE\",\"opcode\":4,\"address\":65536,"
          "\"length\":496}",
          "\"event\":\"ack\"", "\"dir\":\"in\",\"fault\":\"CRC error\"", "\"attempt\":1,",
          "\"op\":\"ERASE\",\"opcode\":253,\"status\":1,",
          "\"event\":\"notification\",\"message\":\"WM_COM_RXDATA\"",
          "\"event\":\"engine\",\"state\":\"Busy\",\"step\":\"Burn\"",
          "\"event\":\"end\",\"state\":\"Done\""})
        EXPECT_NE(all.find(expected), std::string::npos) << expected;
    EXPECT_EQ(all.substr(all.rfind("{")),
              "{\"t_us\":" + std::to_string(last) + ",\"event\":\"result\",\"text\":\"Hotovo\"}\n");
}

TEST_F(BurnSimTest, CtrlCDuringABurnAbortsTheEngineBeforeThePortCloses) {
    // A long erase, and Ctrl-C once the simulator has seen it begin.
    startSim({}, "2000");
    std::thread operatorHand([this] {
        for (int i = 0; i < 1000; ++i) {
            if (fileText(trace()).find("\"dir\":\"pc\",\"op\":\"ERASE\"") != std::string::npos) {
                ::raise(SIGINT);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "no erase came";
    });
    cli::CliResult r = burn("KRAB101");
    operatorHand.join();
    EXPECT_EQ(r.code, cli::kExitFailed);
    ASSERT_NE(r.out.find("User abort"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.find("User abort")), "User abort\nChyba: User abort\n") << r.out;
    EXPECT_EQ(fileText(trace()).find("\"dir\":\"pc\",\"op\":\"WRITE\",\"ch\":1,\"level\":2"),
              std::string::npos)
        << "a WRITE went out after the abort";
}

std::size_t threadCount() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

class LineGoneTest : public BurnSimTest, public ::testing::WithParamInterface<const char*> {};

// The adapter unplugged: the simulator dies once the PC has sent the given request, and its
// pseudo-terminal hangs up.
TEST_P(LineGoneTest, AHangUpEndsTheRunWithAnErrorAndLeavesNoThread) {
    startSim({"--plid", "0x20000001"}, "3000");
    // ThreadSanitizer starts a thread of its own with the process's first thread: make it
    // exist before counting, so that only the program's threads are compared.
    std::thread([] {}).join();
    const std::size_t threads = threadCount();
    std::thread unplug([this] {
        for (int i = 0; i < 3000; ++i) {
            if (fileText(trace()).find(GetParam()) != std::string::npos)
                return sim->signal(SIGKILL);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ADD_FAILURE() << "never sent: " << GetParam();
    });
    const cli::CliResult r = cli::runCliIn(
        ZQ_EXAMPLES_DIR, {"burn", "--port", sim->path(), "--unit", "KREF10x", "--yes"});
    unplug.join();
    EXPECT_EQ(r.code, cli::kExitFailed) << r.out;
    EXPECT_EQ(r.out.find("Hotovo"), std::string::npos) << r.out;
    EXPECT_NE(r.out.rfind("Chyba: "), std::string::npos) << r.out;
    EXPECT_EQ(threadCount(), threads);
    takePendingMessage();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, LineGoneTest,
    ::testing::Values("\"op\":\"WRITE\",\"ch\":0,\"level\":1",  // the daemon upload
                      "\"op\":\"ERASE\",\"ch\":0", "\"op\":\"WRITE\",\"ch\":0,\"level\":2"));

// The adapter's latency timer, read where the program reads it once the port is open: a sysfs
// tree of the test's own (ZQ_SYSFS_ROOT) with an FTDI port named as a link to the simulator's
// pseudo-terminal. At 16 ms the burn is warned of on standard error and still done; at 1 ms
// nothing is said.
TEST_F(BurnSimTest, WarnsOfASlowAdapterAndBurnsAllTheSame) {
    const std::filesystem::path sys = files.path() / "sys";
    addUsbSerialTty(sys, "ttyUSB7");
    struct Unset {
        ~Unset() { ::unsetenv("ZQ_SYSFS_ROOT"); }
    } unset;
    ::setenv("ZQ_SYSFS_ROOT", sys.c_str(), 1);
    const std::filesystem::path link = files.path() / "ttyUSB7";
    for (const char* latency : {"16", "1"}) {
        SCOPED_TRACE(latency);
        writeSysfsFile(sys / "class/tty/ttyUSB7/device/latency_timer", latency);
        startSim();
        std::filesystem::remove(link);
        std::filesystem::create_symlink(sim->path(), link);
        const cli::CliResult r = cli::runCliIn(
            ZQ_EXAMPLES_DIR, {"burn", "--port", link.string(), "--unit", "KRAB101", "--yes"});
        EXPECT_EQ(sim->wait(), 0);
        EXPECT_EQ(r.code, cli::kExitDone) << r.out << r.err;
        EXPECT_EQ(r.err, latency == std::string("1")
                             ? ""
                             : "zidavuvorud-cli: warning: the adapter on " + link.string() +
                                   " has a latency timer of 16 ms: a burn takes about 46 s per "
                                   "MiB instead of 12.4 s.\nSet it to 1 ms: see \"USB serial "
                                   "adapters and their latency\" in the README.\n");
    }
}

}  // namespace
}  // namespace zq::testing
