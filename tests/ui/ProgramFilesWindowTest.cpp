// The segment program's file buttons, "Check program" and the flow graph's "Copy data" in the
// window: thin calls onto the segment program's routines, tried as the operator clicks them.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>

#include "WindowFixture.h"
#include "core/ProgramOpenSave.h"
#include "core/SegmentProgram.h"
#include "form/Dialogs.h"
#include "support/DateTime.h"
#include "support/FileLocations.h"
#include "ui/Application.h"
#include "ui/FlowGraph.h"
#include "ui/GraphExport.h"

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;

class ProgramFilesWindowTest : public ::testing::Test {
protected:
    ProgramFilesWindowTest() {
        home = fs::temp_directory_path() / ("moirex-ui-program-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
        ui::TAppOptions options;
        options.ScriptedDialogs = &dialogs;
        options.AskProgramPath = [this](QWidget*, bool save) {
            ++asked;
            return QString::fromStdString(save ? savePath : openPath);
        };
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
        app->Form.PageControl1.SetActivePageIndex(0);
        QApplication::processEvents();
    }
    ~ProgramFilesWindowTest() override {
        app.reset();
        SetHomeFolder("");
        std::error_code ec;
        fs::remove_all(home, ec);
    }

    void Click(const char* name) {
        auto* button = Find<QPushButton>(&app->Window(), name);
        ASSERT_NE(button, nullptr);
        button->click();
        QApplication::processEvents();
    }
    template <typename Field>
    static void Type(Field& field, double value) {
        field.SetFocused(true);
        field.SetValue(static_cast<decltype(field.Value())>(value));
        field.KeyUp();
        field.SetFocused(false);
    }
    std::vector<std::string> List() const {
        std::vector<std::string> rows;
        for (const TListItem& row : app->Form.RzTabbedListBoxSteps.Items()) rows.push_back(row.Text);
        return rows;
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
    std::string savePath, openPath;
    int asked = 0;
};

TEST_F(ProgramFilesWindowTest, DesignedProgramSavedOpenedAgainAndChecked) {
    TForm1& f = app->Form;
    // Two segments designed in simulation, as a new user does before the instruments are there.
    f.EditStepComments.SetText("dry, first");
    Type(f.RtIntegerEditY1Flow, 1500);
    Type(f.RtIntegerEditY2Flow, 20000);
    Click("ButtonAddStep");
    f.EditStepComments.SetText("");
    Type(f.RtDoubleEditFluidFlow, 150);  // humid, not condensing at 21 ºC
    Click("ButtonAddStep");
    ASSERT_EQ(app->Mixer().StepProgram.size(), 2u) << f.Memo1.Text();
    const std::vector<std::string> designed = List();

    savePath = (home / "two.csv").string();
    Click("ButtonSaveProgram");
    EXPECT_TRUE(fs::exists(savePath));

    ClearStepProgram(app->Mixer());
    openPath = savePath;
    Click("ButtonOpenProgram");
    EXPECT_EQ(List(), designed);
    EXPECT_EQ(asked, 2);

    Click("ButtonCheckProgram");
    ASSERT_GT(f.Memo1.Count(), 0);
    EXPECT_EQ(f.Memo1.Line(0).rfind("Check of the segment program if started now", 0), 0u) << f.Memo1.Text();
    EXPECT_NE(f.Memo1.Text().find("Whole program: 2 segments"), std::string::npos) << f.Memo1.Text();
    EXPECT_NE(f.Memo1.Text().find("Flows corrected in segments: none"), std::string::npos) << f.Memo1.Text();

    // A cancelled dialog does nothing.
    openPath.clear();
    Click("ButtonOpenProgram");
    EXPECT_EQ(List(), designed);
    EXPECT_TRUE(dialogs.shown.empty()) << dialogs.shown.front().text;
}

// During a run "Open program..." is refused before the operator looks for a file in vain.
TEST_F(ProgramFilesWindowTest, OpenDuringARunIsRefusedBeforeTheFileDialog) {
    app->Mixer().MixerState = TMixerState::msOperating;
    Click("ButtonOpenProgram");
    app->Mixer().MixerState = TMixerState::msSimulation;
    EXPECT_EQ(asked, 0);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, OpenRefusedWhileRunning);
}

TEST_F(ProgramFilesWindowTest, CopyDataTakesThePointsOfTheVisibleTimeSpan) {
    TForm1& f = app->Form;
    const TDateTime t0 = EncodeDateTime(2026, 12, 10, 9, 0, 0, 0);
    for (int i = 0; i < 5; ++i) {
        f.RtDoubleVectorTime.Add(t0 + i / 86400.0);
        f.RtDoubleVector2GasAReal.Add(0.01 + i * 0.001);
        f.RtDoubleVectorGasBReal.Add(0.02);
        f.RtDoubleVectorGasAAvg.Add(0.0105);
    }
    auto* graph = app->Window().findChild<ui::TFlowGraph*>();
    ASSERT_NE(graph, nullptr);
    graph->TakeData();
    // Zoomed to the seconds 1 .. 3.
    ui::TGraphView view = graph->View();
    const double second0 = (t0 - 25569.0) * 86400.0;
    view.TimeLo = second0 + 0.5;
    view.TimeHi = second0 + 3.5;
    graph->ZoomTo(view);
    EXPECT_EQ(ui::VisibleFlowsCsv(*graph).toStdString(),
              "time,Gas A actual flow,Gas A average flow,Gas B actual flow\r\n"
              "2026-12-10 09:00:01.000,0.011,0.0105,0.02\r\n"
              "2026-12-10 09:00:02.000,0.012,0.0105,0.02\r\n"
              "2026-12-10 09:00:03.000,0.013000000000000001,0.0105,0.02\r\n");
}

}  // namespace
}  // namespace moirex::testing_ui
