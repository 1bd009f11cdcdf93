#include "gui/update_check.h"

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "gui/settings_fixture.h"
#include "os/http_client.h"
#include "os/shell.h"

extern char** environ;

namespace zq {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

// tests/common/version_server.py, started for one test and killed after it.
class VersionServer {
public:
    VersionServer(const char* mode, const char* text = "") {
        int out[2];
        EXPECT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const char* argv[] = {ZQ_PYTHON3, ZQ_VERSION_SERVER, mode, text, nullptr};
        EXPECT_EQ(::posix_spawn(&pid_, ZQ_PYTHON3, &actions, nullptr,
                                const_cast<char* const*>(argv), environ),
                  0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char line[16] = {};
        std::FILE* stream = ::fdopen(out[0], "r");
        if (stream != nullptr && std::fgets(line, sizeof line, stream) != nullptr)
            port_ = static_cast<unsigned>(std::atoi(line));
        if (stream != nullptr) std::fclose(stream);
        EXPECT_NE(port_, 0u) << "the version server did not start";
    }
    ~VersionServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    unsigned port() const { return port_; }

private:
    pid_t pid_ = 0;
    unsigned port_ = 0;
};

// A port on which nobody listens: bound for a moment and given back.
unsigned refusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

std::string list(const std::string& version) {
    return "<?xml version=\"1.0\"?>\n<versions>\n<Redivuvizer_ER>" + version +
           "</Redivuvizer_ER>\n</versions>\n";
}

class UpdateCheckTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        // A proxy of the environment must not see the tests' loopback server.
        ::setenv("no_proxy", "127.0.0.1", 1);
    }

    UpdateCheckResult check(unsigned port, bool answer = false) {
        UpdateConfig config{"127.0.0.1", port, "support.example"};
        UpdateCheckContext context{settings(),
                                   *http,
                                   kNow,
                                   false,
                                   [this, answer](const std::string& question) {
                                       questions.push_back(question);
                                       return answer;
                                   },
                                   [this](const std::string& url) { pages.push_back(url); }};
        return runUpdateCheck(config, context);
    }
    std::int64_t stored() const {
        std::int64_t seconds = -1;
        return settings().loadLastUpdateTime(seconds) ? seconds : -1;
    }

    std::unique_ptr<HttpClient> http =
        makeHttpClient("test", HttpLimits{500, 1, 500, 500, 1500, 64 * 1024});
    std::vector<std::string> questions;
    std::vector<std::string> pages;
};

// Yes to the question opens the support page.
TEST_F(UpdateCheckTest, ComparesTheVersionTextUnchanged) {
    struct Case {
        const char* version;
        UpdateOutcome outcome;
    } cases[] = {
        {"v_1.1", UpdateOutcome::NewerVersion},
        {"v_1.02", UpdateOutcome::UpToDate},
        {"v_1.01", UpdateOutcome::UpToDate},
        {" v_1.1", UpdateOutcome::UpToDate},  // a blank sorts before "v"
        {"\r\nv_1.1\r\n", UpdateOutcome::UpToDate},
        {"v_1.02\n", UpdateOutcome::NewerVersion},  // longer with the same start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        settings().storeLastUpdateTime(0);
        questions.clear();
        pages.clear();
        // The first list arrives in pieces.
        VersionServer server(&c == cases ? "pieces" : "list", list(c.version).c_str());
        UpdateCheckResult result = check(server.port(), true);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.remoteVersion, c.version);
        const bool newer = c.outcome == UpdateOutcome::NewerVersion;
        EXPECT_EQ(questions,
                  newer ? std::vector<std::string>{kUpdateQuestion} : std::vector<std::string>{});
        EXPECT_EQ(pages, newer
                             ? std::vector<std::string>{"http://support.example/produkty/"
                                                        "systemy-pro-kolejovou-dopravu-1/podpora/"}
                             : std::vector<std::string>{});
        EXPECT_EQ(stored(), kNow);
    }
}

TEST_F(UpdateCheckTest, FailuresStoreNothingAndAskNothing) {
    struct Case {
        const char* mode;
        std::string text;
        UpdateOutcome outcome;
        const char* reason;
    } cases[] = {
        {"status", "404", UpdateOutcome::Failed, "HTTP status 404"},
        {"list", "<versions/>", UpdateOutcome::Failed, "the version list names no version"},
        {"list", "</Redivuvizer_ER>v_1.1<Redivuvizer_ER>", UpdateOutcome::Failed,
         "the version list names no version"},
        {"list", list("v_1.1") + std::string(64 * 1024, ' '), UpdateOutcome::Failed,
         "the answer is larger than 64 KiB"},
        {"silent", "", UpdateOutcome::NoAnswer, nullptr},
        {"refused", "", UpdateOutcome::NoAnswer, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40) + " " + c.mode);
        std::optional<VersionServer> server;
        if (std::string(c.mode) != "refused") server.emplace(c.mode, c.text.c_str());
        UpdateCheckResult result = check(server ? server->port() : refusedPort());
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.reason.substr(0, c.reason == nullptr ? 0 : std::string::npos),
                  c.reason == nullptr ? "" : c.reason);
        EXPECT_FALSE(result.reason.empty());
        EXPECT_EQ(stored(), -1);
    }
    EXPECT_TRUE(questions.empty());
}

TEST_F(UpdateCheckTest, RunsOnlyWhenMoreThanSevenDaysHavePassed) {
    // Nobody listens: a check that goes on the network fails, one that is not due does not.
    unsigned port = refusedPort();
    settings().storeLastUpdateTime(kNow - kUpdateCheckInterval);
    EXPECT_EQ(check(port).outcome, UpdateOutcome::NotDue);
    settings().storeLastUpdateTime(kNow - kUpdateCheckInterval - 1);
    EXPECT_EQ(check(port).outcome, UpdateOutcome::NoAnswer);
    EXPECT_EQ(stored(), kNow - kUpdateCheckInterval - 1);
    EXPECT_EQ(runUpdateCheck(std::nullopt, {settings(), *http, kNow, true, {}, {}}).outcome,
              UpdateOutcome::NotConfigured);
}

TEST_F(UpdateCheckTest, OpensThePageWithoutAShellAndLeavesNoZombie) {
    // A stand-in for xdg-open that notes its argument.
    std::filesystem::create_directory(dir.path() / "bin");
    dir.write("bin/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened\"\n");
    std::filesystem::permissions(dir.path() / "bin/xdg-open", std::filesystem::perms::owner_all);
    const std::string savedPath = std::getenv("PATH");
    ::setenv("PATH", ((dir.path() / "bin").string() + ":" + savedPath).c_str(), 1);
    const std::string url = "http://h/p?a=1&b=$(touch x);c";
    bool started = openWebPageWithSystem(url);
    ::setenv("PATH", savedPath.c_str(), 1);
    ASSERT_TRUE(started);
    std::string opened;
    for (int i = 0; i < 200 && opened.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream file(dir.path() / "bin/opened");
        std::getline(file, opened);
    }
    EXPECT_EQ(opened, url);
    // Looked at, not collected (WNOWAIT): only the program's own reaping may make it go.
    siginfo_t info{};
    int left = 0;
    for (int i = 0; i < 150 && (left = ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT)) == 0;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(left, -1);  // no child left, not even a zombie
}

TEST(UpdateConfigTest, ReadsServerAndSupportHosts) {
    auto config = parseUpdateConfig(
        "\xEF\xBB\xBF; installer\r\n[other]\r\nserver=x\r\n"
        "[Update]\r\n server = www.example.cz:8080 \r\n");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->versionListUrl(),
              "http://www.example.cz:8080/admin/files/Soubory/version-list-QS.xml");
    EXPECT_EQ(config->supportPageUrl(),
              "http://www.example.cz/produkty/systemy-pro-kolejovou-dopravu-1/podpora/");
    config = parseUpdateConfig("[update]\nsupport=web.example\nserver=10.0.0.1\n");
    ASSERT_TRUE(config);
    EXPECT_EQ(config->serverPort, 80u);
    EXPECT_EQ(config->supportPageUrl(),
              "http://web.example/produkty/systemy-pro-kolejovou-dopravu-1/podpora/");

    for (const char* text :
         {"", "[update]\n", "[other]\nserver=a\n", "[update]\nserver=a:0\n",
          "[update]\nserver=a:65536\n", "[update]\nserver=a:\n", "[update]\nserver=a/b\n",
          "[update]\nserver=\n", "[update]\nserver=a\nserver=b\n", "[update]\nserver a\n",
          "[update\nserver=a\n", "[update]\nserver=a\nsupport=x y\n"}) {
        EXPECT_FALSE(parseUpdateConfig(text)) << text;
    }
}

}  // namespace
}  // namespace zq
