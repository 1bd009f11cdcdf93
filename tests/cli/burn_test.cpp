// zidavuvorud-cli burn where no line is needed: the start-up and the arguments, and a port that
// does not open. The runs on a line are in burn_sim_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_run.h"
#include "common/recording_failure_handler.h"
#include "common/temp_dir.h"
#include "os/shell.h"
#include "support/text.h"
#include "support/vyjimka.h"

namespace zq::testing {
namespace {

using Result = cli::CliResult;

class BurnTest : public cli::BurnCliTest {
protected:
    // Runs `burn` in `dir` (-C), the folder that holds RT19_bin.
    static Result burn(const std::string& dir, std::vector<std::string> args) {
        args.insert(args.begin(), "burn");
        return cli::runCliIn(dir, args);
    }

    static std::string examples() { return ZQ_EXAMPLES_DIR; }
};

TEST_F(BurnTest, StartUpAndArgumentErrorsEndWithCode2) {
    TempDir empty;
    Result r = burn(toUtf8(toWide(empty.path())), {"--port", "COM1", "--unit", "KRAB101"});
    EXPECT_EQ(r.code, cli::kExitUsage);
    // Neither in the folder it runs in nor beside the program (the test's).
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(empty.path());
    const std::filesystem::path here = std::filesystem::current_path() / "RT19_bin";
    std::filesystem::current_path(saved);
    EXPECT_EQ(r.err, "Nenalezen adresář " + toUtf8(here.wstring()) + " ani " +
                         toUtf8((programDirectory() / "RT19_bin").wstring()) + "\n");
    EXPECT_EQ(r.out, "");

    r = burn(examples(), {"--port", "COM1", "--unit", "KRXY999", "--yes"});
    EXPECT_EQ(r.code, cli::kExitUsage);
    EXPECT_EQ(r.err, "zidavuvorud-cli: unknown unit 'KRXY999'\n");

    r = burn(examples(), {"--port", "COM1", "--unit", "KRAB101", "--sw", "SW99", "--yes"});
    EXPECT_EQ(r.code, cli::kExitUsage);
    EXPECT_EQ(r.err, "Nenalezena verze sw \"SW99\"\n");

    r = burn(examples(), {"--unit", "KRAB101"});
    EXPECT_EQ(r.code, cli::kExitUsage);
    EXPECT_NE(r.err.find("--port"), std::string::npos) << r.err;
}

// The same ending in --json: burn_sim_test's failed run.
TEST_F(BurnTest, APortThatDoesNotOpenEndsWithItsMessageAndCode1) {
    // No such port on any machine: Windows refuses number 0, POSIX finds no such device.
    Result r = burn(examples(), {"--port", "COM0", "--unit", "krab101", "--yes"});
    EXPECT_EQ(r.code, cli::kExitFailed);
    EXPECT_EQ(r.out.rfind("Chyba při otevírání s", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 6), "Chyba\n") << r.out;
}

}  // namespace
}  // namespace zq::testing
