#include "gui/update_check.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "gui/settings_fixture.h"
#include "os/http_client.h"
#include "os/shell.h"

namespace zq {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;

std::string list(const std::string& version) {
    return "<?xml version=\"1.0\"?>\n<versions>\n<Redivuvizer_ER>" + version +
           "</Redivuvizer_ER>\n</versions>\n";
}

// The server's answer as the HTTP client hands it on. The clients themselves (libcurl, WinINet)
// meet a real server in tests/cli/update_check_cli_test.py.
class CannedHttp : public HttpClient {
public:
    HttpResponse get(const std::string&, unsigned, const std::string&) override {
        ++requests;
        return response;
    }
    HttpResponse response;
    int requests = 0;
};

class UpdateCheckTest : public SettingsTest {
protected:
    UpdateCheckResult check(HttpResponse response, bool answer = false) {
        http.response = std::move(response);
        UpdateConfig config{"127.0.0.1", 80, "support.example"};
        UpdateCheckContext context{
            settings(),
            http,
            kNow,
            false,
            [this, answer](const std::string& question) {
                events.push_back("ask " + question);
                return answer;
            },
            [this](const std::string& url) { events.push_back("open " + url); }};
        return runUpdateCheck(config, context);
    }
    std::int64_t stored() const {
        std::int64_t seconds = -1;
        return settings().loadLastUpdateTime(seconds) ? seconds : -1;
    }

    CannedHttp http;
    std::vector<std::string> events;  // the questions asked and the pages opened
};

// The version text is compared unchanged; yes to the question opens the support page (which
// question and page: programmer_app_test). A failure keeps the last time and asks nothing.
TEST_F(UpdateCheckTest, ComparesTheVersionTextAndStoresTheTimeOfAnAnswer) {
    constexpr UpdateOutcome kNewer = UpdateOutcome::NewerVersion;
    constexpr UpdateOutcome kSame = UpdateOutcome::UpToDate;
    constexpr UpdateOutcome kFailed = UpdateOutcome::Failed;
    const std::string noVersion = "the version list names no version";
    struct Case {
        HttpResponse response;
        UpdateOutcome outcome;
        std::string text;  // the remote version, or the reason of a failure
    } cases[] = {
        {{true, 200, list("v_1.1"), ""}, kNewer, "v_1.1"},
        {{true, 200, list("v_1.02"), ""}, kSame, "v_1.02"},
        {{true, 200, list("v_1.01"), ""}, kSame, "v_1.01"},
        {{true, 200, list(" v_1.1"), ""}, kSame, " v_1.1"},  // a blank sorts before "v"
        {{true, 200, list("\r\nv_1.1\r\n"), ""}, kSame, "\r\nv_1.1\r\n"},
        {{true, 200, list("v_1.02\n"), ""}, kNewer, "v_1.02\n"},  // longer with the same start
        {{true, 404, list("v_1.1"), ""}, kFailed, "HTTP status 404"},
        {{true, 200, "<versions/>", ""}, kFailed, noVersion},
        {{true, 200, "</Redivuvizer_ER>v_1.1<Redivuvizer_ER>", ""}, kFailed, noVersion},
        {{true, 200, list("v_1.1"), "cut short"}, kFailed, "cut short"},
        {{false, 0, "", "refused"}, UpdateOutcome::NoAnswer, "refused"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        settings().storeLastUpdateTime(0);
        events.clear();
        UpdateCheckResult result = check(c.response, true);
        const bool answered = c.outcome == kNewer || c.outcome == kSame;
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(answered ? result.remoteVersion : result.reason, c.text);
        EXPECT_EQ(events.size(), c.outcome == kNewer ? 2u : 0u);
        EXPECT_EQ(stored(), answered ? kNow : 0);
    }
}

TEST_F(UpdateCheckTest, RunsOnlyWhenMoreThanSevenDaysHavePassed) {
    settings().storeLastUpdateTime(kNow - kUpdateCheckInterval);
    EXPECT_EQ(check({}).outcome, UpdateOutcome::NotDue);
    EXPECT_EQ(http.requests, 0);
    settings().storeLastUpdateTime(kNow - kUpdateCheckInterval - 1);
    EXPECT_EQ(check({}).outcome, UpdateOutcome::NoAnswer);
    EXPECT_EQ(stored(), kNow - kUpdateCheckInterval - 1);
    EXPECT_EQ(runUpdateCheck(std::nullopt, {settings(), http, kNow, true, {}, {}}).outcome,
              UpdateOutcome::NotConfigured);
    EXPECT_EQ(http.requests, 1);
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

// The read-back verify is on only when the file says so; a file that does not parse, or says
// it twice or unclearly, leaves it off.
TEST(UpdateConfigTest, VerifyIsOnOnlyWhenTheBurnSectionSaysYes) {
    for (const auto& [text, verify] : std::initializer_list<std::pair<const char*, bool>>{
             {"[Burn]\r\n verify = YES \r\n[update]\nserver=a\n", true},
             {"[burn]\nverify=no\n", false},
             {"", false},
             {"[update]\nverify=yes\n", false},
             {"[burn]\nverify=yes\nverify=yes\n", false},
             {"[burn]\nverify=1\n", false},
             {"[burn]\nverify=yes\nthis is no setting\n", false}}) {
        EXPECT_EQ(parseBurnConfig(text).verify, verify) << text;
    }
    // Both readers take the one file: a [burn] section leaves the update server readable.
    EXPECT_TRUE(parseUpdateConfig("[burn]\nverify=yes\n[update]\nserver=a\n"));
}

}  // namespace
}  // namespace zq
