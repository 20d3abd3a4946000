// The window as a whole: pages and window that take no input, Timer1, the flow graph's data and
// zoom steps.

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

#include "WindowFixture.h"
#include "state/MixerState.h"
#include "ui/FlowGraph.h"

namespace moirex::testing_ui {
namespace {

TEST_F(WindowTest, DisabledPageCanBeShownButTakesNoInput) {
    int clicks = 0, listClicks = 0;
    form.ButtonSetupFindPorts.OnClick = [&](TControl&) { ++clicks; };
    form.ListBoxPortMFC1.SetItems({{"/dev/ttyUSB0", 0}});
    form.ListBoxPortMFC1.OnClick = [&](TControl&) { ++listClicks; };
    form.PageControl1.SetPageEnabled(0, false);
    ShowPage(0);
    EXPECT_EQ(window->PageControl1()->currentIndex(), 0);
    auto* find = W<QPushButton>(form.ButtonSetupFindPorts);
    auto* list = W<QListWidget>(form.ListBoxPortMFC1);
    EXPECT_TRUE(find->isVisible());
    QTest::mouseClick(find, Qt::LeftButton);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(listClicks, 0);
    EXPECT_EQ(form.ListBoxPortMFC1.ItemIndex(), -1);

    form.PageControl1.SetPageEnabled(0, true);
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(WindowTest, DisabledWindowShowsTheBusyCursorAndTakesNoInput) {
    int clicks = 0;
    form.ButtonSetupFindPorts.OnClick = [&](TControl&) { ++clicks; };
    auto* find = W<QPushButton>(form.ButtonSetupFindPorts);
    FormDisable(form, true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_EQ(clicks, 0);
    FormDisable(form, false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    QTest::mouseClick(find, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(WindowTest, CloseAsksFirstAndTimerTicksEvery50ms) {
    allowClose = false;
    EXPECT_FALSE(window->close());
    EXPECT_EQ(closeQueries, 1);
    EXPECT_EQ(closes, 0);
    const int before = ticks;
    QTest::qWait(300);
    EXPECT_GE(ticks - before, 3);
    allowClose = true;
    EXPECT_TRUE(window->close());
    EXPECT_EQ(closes, 1);
}

TEST_F(WindowTest, CaptionAndWidthGoToTheForm) {
    form.SetCaption("Moirex v2 2024-02-29");
    EXPECT_EQ(window->windowTitle(), "Moirex v2 2024-02-29");
    window->resize(800, 600);
    QApplication::processEvents();
    EXPECT_EQ(form.Width(), 800);
    EXPECT_GE(resizes, 1);
}

class FlowGraphTest : public WindowTest {
protected:
    ui::TFlowGraph* graph() { return window->Flows()->Graph(); }
    // One tick's readings, as the run controller appends them.
    void Point(double minutes, double a, double b, double avg) {
        form.RtDoubleVectorTime.Add(46000.0 + minutes / 1440.0);
        form.RtDoubleVector2GasAReal.Add(a);
        form.RtDoubleVectorGasBReal.Add(b);
        form.RtDoubleVectorGasAAvg.Add(avg);
    }
};

TEST_F(FlowGraphTest, SeriesFollowTheDataVectorsInOneQueuedReplot) {
    ShowPage(4);
    auto* g = graph();
    EXPECT_EQ(g->RtLineSeriesA()->name(), "Gas A actual flow");
    EXPECT_EQ(g->RtLineSeriesB()->name(), "Gas B actual flow");
    EXPECT_EQ(g->RtLineSeriesAAvg()->name(), "Gas A average flow");
    EXPECT_EQ(g->RtLineSeriesA()->pen().style(), Qt::DashLine);
    EXPECT_EQ(g->RtLineSeriesB()->pen().color(), QColor(0xFF, 0, 0));
    EXPECT_EQ(g->RtLineSeriesB()->valueAxis(), g->YAxis2());
    EXPECT_EQ(g->YAxis2()->tickLabelColor(), QColor(Qt::red));
    EXPECT_EQ(g->YAxis1()->axisType(), QCPAxis::atRight);
    EXPECT_EQ(g->YAxis2()->axisType(), QCPAxis::atRight);

    for (int i = 0; i < 10; ++i) Point(i, 0.01 * i, 0.5, 0.02);
    EXPECT_EQ(g->RtLineSeriesA()->dataCount(), 0);  // not yet: the replot is queued
    QApplication::processEvents();
    EXPECT_EQ(g->RtLineSeriesA()->dataCount(), 10);
    EXPECT_EQ(g->RtLineSeriesB()->dataCount(), 10);
    // Lower ends at 0, upper ends above the largest value, time spanning the data.
    EXPECT_EQ(g->YAxis1()->range().lower, 0);
    EXPECT_GE(g->YAxis1()->range().upper, 0.09);
    EXPECT_GE(g->YAxis2()->range().upper, 0.5);
    EXPECT_NEAR(g->XAxis1()->range().size(), 9 * 60, 1);
}

TEST_F(FlowGraphTest, EmptyAgainAfterThe1001stPointWithTheDefaultGraphPoints) {
    ShowPage(4);
    for (int i = 0; i < 1000; ++i) Point(i * 0.01, 0.01, 0.02, 0.01);
    QApplication::processEvents();
    EXPECT_EQ(graph()->RtLineSeriesA()->dataCount(), 1000);
    // The 1001st point: the run controller appends it, then empties all four vectors in the same
    // tick; the graph must show nothing, not the last 1000 points.
    Point(10.0, 0.01, 0.02, 0.01);
    for (TDoubleVector* v : {&form.RtDoubleVectorTime, &form.RtDoubleVector2GasAReal,
                             &form.RtDoubleVectorGasBReal, &form.RtDoubleVectorGasAAvg})
        v->Clear();
    QApplication::processEvents();
    EXPECT_EQ(graph()->RtLineSeriesA()->dataCount(), 0);
    EXPECT_EQ(graph()->RtLineSeriesB()->dataCount(), 0);
    EXPECT_EQ(graph()->RtLineSeriesAAvg()->dataCount(), 0);
}

TEST_F(FlowGraphTest, ZoomTwiceOneStepBackThenReset) {
    ShowPage(4);
    for (int i = 0; i <= 60; ++i) Point(i, 0.01 + 0.001 * i, 0.5, 0.03);
    QApplication::processEvents();
    auto* g = graph();
    const ui::TGraphView full = g->View();
    const QRect area = g->axisRect()->rect();

    auto drag = [&](QPoint from, QPoint to) {
        QTest::mousePress(g, Qt::LeftButton, {}, from);
        QTest::mouseMove(g, to);
        QTest::mouseRelease(g, Qt::LeftButton, {}, to);
    };
    drag(area.topLeft() + QPoint(10, 10), area.center());
    const ui::TGraphView first = g->View();
    EXPECT_LT(first.TimeHi - first.TimeLo, full.TimeHi - full.TimeLo);
    EXPECT_GT(first.ALo, 0);  // the rectangle's lower edge
    EXPECT_TRUE(window->Flows()->TimeScroll()->isVisible());
    drag(area.topLeft() + QPoint(20, 20), area.topLeft() + QPoint(120, 120));
    EXPECT_EQ(g->RtUndoStack1().Count(), 2u);

    // New data while zoomed does not move the view.
    const ui::TGraphView second = g->View();
    Point(61, 0.2, 0.5, 0.03);
    QApplication::processEvents();
    EXPECT_EQ(g->View(), second);

    // A click beside the data area: one step back.
    const QPoint beside(area.left() + 5, area.bottom() + 25);
    QTest::mouseClick(g, Qt::LeftButton, {}, beside);
    EXPECT_EQ(g->View(), first);
    EXPECT_EQ(g->RtUndoStack1().Count(), 1u);
    // A double click beside it: the whole data again, and the view follows the data.
    QTest::mouseDClick(g, Qt::LeftButton, {}, beside);
    EXPECT_EQ(g->RtUndoStack1().Count(), 0u);
    EXPECT_EQ(g->View().ALo, 0);
    EXPECT_GE(g->View().AHi, 0.2);
    EXPECT_FALSE(window->Flows()->TimeScroll()->isVisible());
}

TEST_F(FlowGraphTest, ShiftDragPansAndTheLegendIsDragged) {
    ShowPage(4);
    for (int i = 0; i <= 60; ++i) Point(i, 0.02, 0.5, 0.03);
    QApplication::processEvents();
    auto* g = graph();
    const QRect area = g->axisRect()->rect();
    const ui::TGraphView before = g->View();
    QTest::mousePress(g, Qt::LeftButton, Qt::ShiftModifier, area.center());
    QTest::mouseMove(g, area.center() + QPoint(100, 0));
    QTest::mouseRelease(g, Qt::LeftButton, Qt::ShiftModifier, area.center() + QPoint(100, 0));
    EXPECT_LT(g->View().TimeLo, before.TimeLo);  // dragged right: earlier times come into view
    EXPECT_EQ(g->RtUndoStack1().Count(), 1u);

    QApplication::processEvents();  // the scroll bars of the zoomed view have taken their room
    g->replot();
    const QRect legend = g->legend->outerRect();
    QTest::mousePress(g, Qt::LeftButton, {}, legend.center());
    QTest::mouseMove(g, legend.center() + QPoint(200, 100));
    QTest::mouseRelease(g, Qt::LeftButton, {}, legend.center() + QPoint(200, 100));
    g->replot();
    EXPECT_NEAR(g->legend->outerRect().left(), legend.left() + 200, 3);
    EXPECT_NEAR(g->legend->outerRect().top(), legend.top() + 100, 3);
}

TEST(ZoomHistory, KeepsTheLast20Steps) {
    ui::TZoomHistory history;
    for (int i = 0; i < 25; ++i) history.Push({double(i), double(i + 1), 0, 1, 0, 1});
    EXPECT_EQ(history.Count(), 20u);
    ui::TGraphView view;
    ASSERT_TRUE(history.Back(view));
    EXPECT_EQ(view.TimeLo, 24);
    while (history.Back(view)) {
    }
    EXPECT_EQ(view.TimeLo, 5);  // the five oldest steps were dropped
}

}  // namespace
}  // namespace moirex::testing_ui
