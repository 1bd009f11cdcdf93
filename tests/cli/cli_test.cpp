#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/cli_context.h"

namespace zq::cli {
namespace {

struct Result {
    int code;
    std::string out;
    std::string err;
};

Result runCli(std::vector<const char*> args) {
    args.insert(args.begin(), "zidavuvorud-cli");
    std::ostringstream out, err;
    int code = run(static_cast<int>(args.size()), args.data(), out, err);
    return {code, out.str(), err.str()};
}

TEST(Cli, VersionPrintsTheProgramVersion) {
    Result r = runCli({"--version"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_EQ(r.out, "1.02\n");
}

TEST(Cli, HelpDescribesTheProgram) {
    Result r = runCli({"--help"});
    EXPECT_EQ(r.code, kExitDone);
    EXPECT_NE(r.out.find("zidavuvorud-cli"), std::string::npos);
    EXPECT_NE(r.out.find("-C DIR"), std::string::npos);
}

TEST(Cli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(runCli({}).code, kExitUsage) << "a subcommand is needed";
    Result unknown = runCli({"--frobnicate"});
    EXPECT_EQ(unknown.code, kExitUsage);
    EXPECT_FALSE(unknown.err.empty());
    EXPECT_EQ(runCli({"nosuchcommand"}).code, kExitUsage);
}

}  // namespace
}  // namespace zq::cli
