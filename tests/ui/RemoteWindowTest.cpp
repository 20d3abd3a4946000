// The window's SEC node: where it listens, the check box "Allow remote control" with its status
// line, and a remote start that goes through the Start button's handler while the operator sees
// no message box for it.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "WindowFixture.h"
#include "form/Dialogs.h"
#include "remote/MixerNode.h"
#include "remote/ClientSupport.h"
#include "support/FileLocations.h"
#include "ui/Application.h"

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;
using testing_remote::SecopClient;
using testing_remote::StartsWith;

class RemoteWindowTest : public ::testing::Test {
protected:
    RemoteWindowTest() {
        home = fs::temp_directory_path() / ("moirex-ui-remote-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
    }
    ~RemoteWindowTest() override {
        app.reset();
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    void Start(const std::string& address) {
        ui::TAppOptions options;
        options.ScriptedDialogs = &dialogs;
        options.SecopAddress = address;
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
    }
    // The window's event loop runs while the reply is awaited.
    std::optional<std::string> Ask(SecopClient& c, const std::string& request) {
        if (!c.Send(request)) return std::nullopt;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (auto line = c.ReadLine(0.001)) {
                if (!StartsWith(*line, "update")) return line;
            }
            QTest::qWait(5);
        }
        return std::nullopt;
    }
    template <typename Widget>
    Widget* W(const TControl& control) {
        return Find<Widget>(&app->Window(), control.Name);
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
};

TEST_F(RemoteWindowTest, RemoteStartGoesThroughTheStartButtonOnlyWhileAllowed) {
    Start("127.0.0.1:0");
    TMixerNode& node = app->Remote().Node();
    ASSERT_TRUE(node.Running());
    const std::string listening = "SECoP node listening on 127.0.0.1:" + std::to_string(node.Port());
    EXPECT_NE(app->Form.MemoSetupFeedback.Text().find(listening), std::string::npos)
        << app->Form.MemoSetupFeedback.Text();

    SecopClient c(node.Port());
    EXPECT_EQ(c.Ask("*IDN?"), "ISSE,SECoP,V2019-09-16,v1.0");
    EXPECT_TRUE(StartsWith(Ask(c, "read mixer:value").value_or(""), "reply mixer:value [0,"));

    auto* statusLine = W<QLabel>(app->Form.LabelRemoteControl);
    auto* box = W<QCheckBox>(app->Form.CheckBoxAllowRemoteControl);
    ASSERT_TRUE(statusLine && box);
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(statusLine->isVisible());
    // Without the operator's leave a client may neither load nor start, but it may always stop.
    const std::string refusal = "[\"Impossible\"," + nlohmann::json(RemoteControlOff).dump();
    for (const char* request : {"do program:start", "do program:load \"1,1,0.01,0.01,0,0\"", "change program:target 1"}) {
        const auto off = Ask(c, request).value_or("");
        EXPECT_NE(off.find(refusal), std::string::npos) << request << ": " << off;
    }
    // The stop reaches the Stop button's handler, whose own refusal (no instruments yet) it gets.
    const auto stopped = Ask(c, "do program:stop").value_or("");
    EXPECT_EQ(stopped.rfind("error_do program:stop [\"Impossible\",\"Instruments not initialized. Cannot proceed.\"", 0), 0u)
        << stopped;

    // The operator allows remote control: the status line says so, the start reaches the
    // Start button's handler and gets its refusal, without a message box in the window.
    box->click();
    EXPECT_TRUE(node.AllowRemoteControl);
    EXPECT_TRUE(statusLine->isVisible());
    EXPECT_NE(statusLine->text().toStdString().find("Remote control allowed"), std::string::npos);
    const size_t shown = dialogs.shown.size();
    const auto refused = Ask(c, "do program:start").value_or("");
    EXPECT_EQ(refused.rfind("error_do program:start [\"Impossible\",\"Instruments not initialized. Cannot proceed.\"", 0),
              0u)
        << refused;
    EXPECT_EQ(dialogs.shown.size(), shown);
    EXPECT_TRUE(StartsWith(Ask(c, "read mixer:remote_control").value_or(""), "reply mixer:remote_control [true,"));

    box->click();
    EXPECT_FALSE(node.AllowRemoteControl);
    EXPECT_FALSE(statusLine->isVisible());
}

TEST_F(RemoteWindowTest, NoAddressNoNodeAndABadOneIsRefusedByName) {
    Start("");
    EXPECT_FALSE(app->Remote().Node().Running());
    for (const std::string& text : dialogs.Texts()) EXPECT_EQ(text.find("SECoP"), std::string::npos) << text;
    app.reset();

    // The configuration file's value, refused with its key and value; the window goes on.
    fs::create_directories(home);
    {
        std::ofstream ini(IniFilePath());
        ini << "[Remote]\nSECoP address=localhost:99999\n";
    }
    Start("");
    EXPECT_FALSE(app->Remote().Node().Running());
    const std::string told = "[Remote] SECoP address=localhost:99999 is refused";
    EXPECT_NE(app->Form.MemoSetupFeedback.Text().find(told), std::string::npos) << app->Form.MemoSetupFeedback.Text();
    bool shown = false;
    for (const std::string& text : dialogs.Texts()) shown = shown || text.find(told) != std::string::npos;
    EXPECT_TRUE(shown);
    app.reset();

    // "none" is no node, as an empty value.
    {
        std::ofstream ini(IniFilePath());
        ini << "[Remote]\nSECoP address=none\n";
    }
    dialogs.shown.clear();
    Start("");
    for (const std::string& text : dialogs.Texts()) EXPECT_EQ(text.find("SECoP"), std::string::npos) << text;
    EXPECT_FALSE(app->Remote().Node().Running());
    EXPECT_EQ(app->Form.MemoSetupFeedback.Text().find("SECoP"), std::string::npos);
}

}  // namespace
}  // namespace moirex::testing_ui
