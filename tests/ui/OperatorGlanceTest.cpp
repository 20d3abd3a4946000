// What the operator reads at a glance and types on the design page, through the widgets: flows
// typed digit by digit, refused keys, the status bar's warnings panel, the graph's gaps and run
// ends, the log pane's lines and the pump command.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QAbstractTextDocumentLayout>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <memory>

#include "WindowFixture.h"
#include "core/FlowStatusTexts.h"
#include "form/Dialogs.h"
#include "support/FileLocations.h"
#include "ui/Application.h"
#include "ui/FlowGraph.h"

namespace moirex::testing_ui {
namespace {

namespace fs = std::filesystem;

// The program's window in simulation (the demonstration gases: MFC B holds argon from 892 µg/min).
class GlanceTest : public ::testing::Test {
protected:
    GlanceTest() {
        home = fs::temp_directory_path() / ("moirex-ui-glance-" + std::to_string(::getpid()));
        SetHomeFolder(home.string());
        ui::TAppOptions options;
        options.ScriptedDialogs = &dialogs;
        app = std::make_unique<ui::TMoirexApp>(options);
        app->Window().show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&app->Window()));
        app->Window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&app->Window()));
        form().PageControl1.SetActivePageIndex(3);
        QApplication::processEvents();
    }
    ~GlanceTest() override {
        app.reset();
        SetHomeFolder("");
        std::error_code ec;
        fs::remove_all(home, ec);
    }
    TForm1& form() { return app->Form; }
    template <typename Widget>
    Widget* W(const TControl& control) {
        return Find<Widget>(&app->Window(), control.Name);
    }
    // Focus into the field, all of its text selected, as a click and Ctrl+A leave it.
    QLineEdit* SelectAll(const TControl& control) {
        auto* edit = W<QLineEdit>(control);
        edit->setFocus();
        QApplication::processEvents();
        edit->selectAll();
        return edit;
    }

    fs::path home;
    ScriptedDialogs dialogs;
    std::unique_ptr<ui::TMoirexApp> app;
};

TEST_F(GlanceTest, GasBIsTypedDigitByDigitAndItsMinimumAppliesWhenEntered) {
    TIntegerEdit& b = form().RtIntegerEditY2Flow;
    QLineEdit* edit = SelectAll(b);
    auto* hint = W<QLabel>(form().LabelY2Correction);
    QTest::keyClicks(edit, "6");
    EXPECT_EQ(edit->text(), "6");
    EXPECT_EQ(hint->text().toStdString(), "Becomes 0 when entered: at or below MFC B's minimum, 892 \u00B5g/min");
    QTest::keyClicks(edit, "0000");
    EXPECT_EQ(edit->text(), "60000");
    EXPECT_EQ(b.Value(), 60000);
    EXPECT_EQ(hint->text(), "");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(b.Value(), 60000);
    EXPECT_EQ(W<QLabel>(form().Label45)->text(), " = 0.06 g/min");

    // Below the minimum, then left with Tab: 0.
    edit->selectAll();
    QTest::keyClicks(edit, "500");
    EXPECT_EQ(b.Value(), 500);
    QTest::keyClick(edit, Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(b.Value(), 0);
    EXPECT_EQ(edit->text(), "0");
    EXPECT_EQ(hint->text(), "");
}

// A refused key leaves the field as it was, selection and all; the field always shows its value.
TEST_F(GlanceTest, RefusedKeysLeaveTheFieldAsItWas) {
    TRealEdit& fluid = form().RtDoubleEditFluidFlow;
    QLineEdit* edit = SelectAll(fluid);
    QTest::keyClicks(edit, "367");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_EQ(fluid.Value(), 367);

    struct Case {
        const char* typed;  // over the whole text selected
        const char* shown;
        double value;
    };
    const Case cases[] = {
        {"-5", "5", 5},       // no negative flow: the "-" is refused, the selection stays
        {".5", ".5", 0.5},
        {"0.05", "0.05", 0.05},  // no rewrite to "0" on the way
        {"abc", "367", 367},  // nothing of it is taken
        {"1e2", "1e2", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        edit->setText("367");
        fluid.SetValue(367);
        edit->selectAll();
        QTest::keyClicks(edit, c.typed);
        EXPECT_EQ(edit->text().toStdString(), c.shown);
        EXPECT_EQ(fluid.Value(), c.value);
    }
    // Beyond the pump's range: the field holds its maximum and shows it at once.
    edit->selectAll();
    QTest::keyClicks(edit, "1e9");
    EXPECT_EQ(fluid.Value(), fluid.MaxValue());
    EXPECT_EQ(edit->text().toStdString(), fluid.DisplayText());
    // Leaving the field shows the value as the field writes it.
    edit->selectAll();
    QTest::keyClicks(edit, "2e");
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(edit->text(), "2");

    // The integer fields: no letters, no minus sign for a flow, and the g/min label follows.
    QLineEdit* gasA = SelectAll(form().RtIntegerEditY1Flow);
    QTest::keyClicks(gasA, "-5a00");
    EXPECT_EQ(gasA->text(), "500");
    EXPECT_EQ(form().RtIntegerEditY1Flow.Value(), 500);
    EXPECT_EQ(W<QLabel>(form().Label10)->text(), " = 0.000 5 g/min");
    gasA->selectAll();
    QTest::keyClick(gasA, Qt::Key_Backspace);
    EXPECT_EQ(form().RtIntegerEditY1Flow.Value(), 0);
}

// At the window's size the warnings panel is shown whole, also with both warnings; the reading
// panels give way.
TEST_F(GlanceTest, WarningsPanelIsReadableWhole) {
    form().StatusBar1.SetPanel(0, "Gas A flow: 100 % of 0.010 000 g/min");
    form().StatusBar1.SetPanel(4, "Flow A Warning -  Flow B Warning");
    QApplication::processEvents();
    auto* bar = Find<QWidget>(&app->Window(), form().StatusBar1.Name);
    auto* warnings = Find<QLabel>(&app->Window(), form().StatusBar1.Name + ".Panel4");
    ASSERT_TRUE(bar && warnings);
    EXPECT_LE(warnings->geometry().right(), bar->width() - 1);
    EXPECT_GE(warnings->width(), warnings->sizeHint().width());
    EXPECT_GE(warnings->width(), 250);
    for (int i = 0; i < 4; ++i) {
        auto* panel = Find<QLabel>(&app->Window(), form().StatusBar1.Name + ".Panel" + std::to_string(i));
        EXPECT_LE(panel->geometry().right(), warnings->geometry().left()) << i;
    }
}

TEST_F(GlanceTest, GraphLeavesGapsForMissingReadingsAndMarksRunEnds) {
    TForm1& f = form();
    auto add = [&](double t, double a, double b, double avg) {
        f.RtDoubleVectorTime.Add(t);
        f.RtDoubleVector2GasAReal.Add(GraphValue(a));
        f.RtDoubleVectorGasBReal.Add(GraphValue(b));
        f.RtDoubleVectorGasAAvg.Add(avg);
    };
    const double t0 = 46000.5, s = 1.0 / 86400;
    add(t0, 0.01, 0.02, 0.01);
    add(t0 + s, -1, 0.02, 0.01);  // MFC A silent
    add(t0 + 2 * s, 0.01, 0.02, 0.01);
    AddRunEnd(f, t0 + 3 * s);
    add(t0 + 600 * s, 0.012, 0.018, 0.012);  // the next run
    ui::TFlowGraph* graph = app->Window().Flows()->Graph();
    graph->TakeData();
    ASSERT_EQ(graph->RtLineSeriesA()->data()->size(), 5);
    EXPECT_TRUE(std::isnan(graph->RtLineSeriesA()->data()->at(1)->value));
    EXPECT_TRUE(std::isnan(graph->RtLineSeriesB()->data()->at(3)->value));
    EXPECT_EQ(graph->itemCount(), 1);  // the one run end
    // The flow axes span the readings, not the gaps.
    EXPECT_NEAR(graph->View().AHi, 0.012 * 1.1, 1e-9);
    EXPECT_NEAR(graph->View().BHi, 0.02 * 1.1, 1e-9);
}

// Over a span of seconds no two time labels read the same.
TEST_F(GlanceTest, TimeLabelsAreDistinctOnASpanOfSeconds) {
    ui::TFlowGraph* graph = app->Window().Flows()->Graph();
    form().PageControl1.SetActivePageIndex(4);
    QApplication::processEvents();
    for (double span : {1.5, 4.0, 20.0}) {
        SCOPED_TRACE(span);
        graph->xAxis->setRange(1.7e9, 1.7e9 + span);
        graph->replot();
        const QVector<QString> labels = graph->xAxis->tickVectorLabels();
        ASSERT_GE(labels.size(), 2);
        for (int i = 1; i < labels.size(); ++i) EXPECT_NE(labels[i], labels[i - 1]);
    }
}

TEST_F(GlanceTest, LogPaneShowsAWorkerMessageWithoutEmptyLines) {
    form().MemoLog.Add("01-12-00-00 Thread. one\r\nThread. two\r\n");
    form().MemoLog.Add("01-12-00-01 next");
    QApplication::processEvents();
    auto* pane = W<QPlainTextEdit>(form().MemoLog);
    EXPECT_EQ(pane->toPlainText(), "01-12-00-00 Thread. one\nThread. two\n01-12-00-01 next");
}

TEST_F(GlanceTest, LongLinesOfTheReportPaneWrapInsteadOfRunningPastIt) {
    form().Memo1.Clear();
    form().Memo1.Add("Gases: mass, and volume at 0 \u00BAC, 1013.25 mBar. Fluid: mass, volume at 20 \u00BAC, "
                     "strokes, for every segment of the program as it would run if started now.");
    form().Memo1.Add("short");
    QApplication::processEvents();
    auto* pane = W<QPlainTextEdit>(form().Memo1);
    QAbstractTextDocumentLayout* layout = pane->document()->documentLayout();
    const double longLine = layout->blockBoundingRect(pane->document()->findBlockByNumber(0)).height();
    const double shortLine = layout->blockBoundingRect(pane->document()->findBlockByNumber(1)).height();
    EXPECT_GT(longLine, 1.5 * shortLine);
}

TEST_F(GlanceTest, LongestPumpCommandIsShownWhole) {
    form().Label30.SetCaption("gIV6000A24000OV1000gD1M99999G24000GR");
    QApplication::processEvents();
    auto* label = W<QLabel>(form().Label30);
    EXPECT_GE(label->width(), label->sizeHint().width());
}

}  // namespace
}  // namespace moirex::testing_ui
