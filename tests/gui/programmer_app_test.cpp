#include "gui/programmer_app.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "common/catalogue_writer.h"
#include "gui/recording_view.h"
#include "gui/settings_fixture.h"
#include "os/http_client.h"
#include "support/fail.h"
#include "support/text.h"

namespace zq {
namespace {

using Log = std::vector<std::string>;

// The window toolkit and the update server, as the application meets them.
class RecordingToolkit : public AppToolkit, public HttpClient {
public:
    explicit RecordingToolkit(Log& log) : log_(log) {}
    void loadIcon() override { log_.push_back("icon"); }
    void showStartupMessage(const std::string& text) override { log_.push_back("box " + text); }
    bool askYesNo(const std::string& text) override {
        log_.push_back("ask " + text);
        return true;
    }
    void openWebPage(const std::string& url) override { log_.push_back("open " + url); }
    HttpResponse get(const std::string& host, unsigned port, const std::string& path) override {
        log_.push_back("get " + host + ":" + std::to_string(port) + path);
        return {true, 200, "<Redivuvizer_ER>v_1.1</Redivuvizer_ER>", ""};
    }
    DialogView& createMainWindow(DialogSetup&) override {
        log_.push_back(app->platforms() != nullptr ? "create" : "create without platforms");
        return view;
    }
    void showMainWindow(MainDialog&) override { log_.push_back("show " + view.title); }
    void destroyMainWindow() override {
        log_.push_back(app->mainDialog() == nullptr && app->platforms() != nullptr
                           ? "destroy"
                           : "destroy out of order");
    }

    ProgrammerApp* app = nullptr;
    testing::RecordingView view;

private:
    Log& log_;
};

class LoggedFailureHandler : public FailureHandler {
public:
    explicit LoggedFailureHandler(Log& log) : log_(log) { log_.push_back("failure handler"); }
    ~LoggedFailureHandler() override { log_.push_back("failure handler released"); }

private:
    Log& log_;
};

class ProgrammerAppTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        saved_ = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        dir.write("zidavuvorud.ini", "[update]\nserver = 127.0.0.1:8080\n");
        options.programDirectory = dir.path();
        options.settings = &settings();
        options.clock = [] { return std::int64_t{1'800'000'000}; };
        options.http = &toolkit;
        options.makeFailureHandler = [this] { return std::make_unique<LoggedFailureHandler>(log); };
    }
    void TearDown() override {
        std::filesystem::current_path(saved_);
        SettingsTest::TearDown();
    }
    void writeCatalogue() {
        std::filesystem::create_directory(dir.path() / "RT19_bin");
        for (const std::string& name : testing::catalogueFiles("a"))
            dir.write("RT19_bin/" + name, "x");
        dir.write("RT19_bin/config.ini",
                  testing::catalogueText({testing::catalogueSection("SW31", "Verze", "a")}));
    }

    Log log;
    RecordingToolkit toolkit{log};
    AppOptions options;

private:
    std::filesystem::path saved_;
};

TEST_F(ProgrammerAppTest, StartsAndShutsDownInOrder) {
    writeCatalogue();
    {
        ProgrammerApp app(toolkit, options);
        toolkit.app = &app;
        ASSERT_TRUE(app.startup());
        ASSERT_NE(app.mainDialog(), nullptr);
        EXPECT_EQ(app.catalogue().versionCount(), 1u);
        EXPECT_EQ(log,
                  (Log{
                      "failure handler",
                      "icon",
                      "get 127.0.0.1:8080/admin/files/Soubory/version-list-QS.xml",
                      "ask Je k dispozici nová verze Dodireveraza VE. Přejete si ji stahnout?",
                      "open http://127.0.0.1/produkty/systemy-pro-kolejovou-dopravu-1/podpora/",
                      "create",
                      "show Zidavuvorud QS",
                  }));
        log.clear();
        app.shutdown();
        EXPECT_EQ(app.mainDialog(), nullptr);
        EXPECT_EQ(log, (Log{"destroy", "failure handler released"}));
        log.clear();
    }
    EXPECT_TRUE(log.empty());  // shut down once only
    std::int64_t stored = 0;
    EXPECT_TRUE(settings().loadLastUpdateTime(stored));
    EXPECT_EQ(stored, 1'800'000'000);
}

// Which reasons a start-up gives is app_startup_test's business; here: one box, no window.
TEST_F(ProgrammerAppTest, AStartupFailureShowsOneBoxAndNoWindow) {
    {
        ProgrammerApp app(toolkit, options);
        toolkit.app = &app;
        EXPECT_FALSE(app.startup());
        EXPECT_EQ(app.mainDialog(), nullptr);
    }
    // The program's folder is the current one: named once.
    const std::string place = toUtf8((std::filesystem::current_path() / "RT19_bin").wstring());
    EXPECT_EQ(log, (Log{"failure handler", "icon", "box Nenalezen adresář " + place,
                        "failure handler released"}));
}

}  // namespace
}  // namespace zq
