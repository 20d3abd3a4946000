// The desktop program's window with the design's handlers: the close refused while operating,
// the Setup page's resize rule, and a short program started and stopped from the buttons on the
// emulator.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "WindowFixture.h"
#include "form/Dialogs.h"
#include "sim/Emulator.h"
#include "support/FileLocations.h"
#include "ui/Application.h"

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;
using sim::Instrument;

class AppTest : public ::testing::Test {
protected:
    AppTest() {
        home = fs::temp_directory_path() / ("moirex-ui-test-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
        dialogs.defaultAnswer = true;
    }
    ~AppTest() override {
        app.reset();
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    void Start(ui::TAppOptions options = {}) {
        options.ScriptedDialogs = &dialogs;
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
    }
    template <typename Widget>
    Widget* W(const TControl& control) {
        return Find<Widget>(&app->Window(), control.Name);
    }
    // Lets the window run until done() or the time is up.
    static bool RunUntil(const std::function<bool()>& done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms) return false;
            QTest::qWait(10);
        }
        return true;
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
};

TEST_F(AppTest, CloseRefusedWhileOperatingWithItsMessage) {
    Start();
    app->Mixer().MixerState = TMixerState::msOperating;
    EXPECT_FALSE(app->Window().close());
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown.back().text, "Stop the mixture first");
    EXPECT_TRUE(app->Window().isVisible());
    app->Mixer().MixerState = TMixerState::msReady;
    EXPECT_TRUE(app->Window().close());
}

TEST_F(AppTest, FeedbackGroupFollowsTheWindowWidthNeverBelow300) {
    Start();
    auto* feedback = W<QGroupBox>(app->Form.GroupBox3);
    struct Case {
        int window, group;
    } cases[] = {{1126, 676}, {1000, 550}, {750, 300}, {700, 300}, {600, 300}};
    for (const Case& c : cases) {
        app->Window().resize(c.window, 689);
        QApplication::processEvents();
        EXPECT_EQ(app->Form.GroupBox3.Width(), c.group) << c.window;
        EXPECT_EQ(feedback->width(), c.group) << c.window;
    }
}

}  // namespace
}  // namespace moirex::testing_ui
