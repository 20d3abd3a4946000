#pragma once
// The flow graph RtGraph2D1 on QCustomPlot: gas A actual (dashed blue) and gas A average (solid
// blue) on YAxis1, gas B actual (solid red) on YAxis2 further right with red numbers, against
// date-time on XAxis1. The graph follows the run controller's four data vectors: any change of
// them asks for one queued replot, which copies the vectors first, so the tick's four appends
// cost one redraw.
//
// Mouse: left drag over the data area zooms into the rectangle, Shift + left drag pans, the legend
// is dragged with the left button, a click beside the data area goes one zoom step back, a double
// click there resets the zoom. A zoomed view shows scroll bars (TFlowGraphView). While not zoomed,
// the time axis spans the data and both flow axes run from 0 to just above their largest value.
// A missing reading is a gap in its line; a run's end (IsRunEnd) is a dotted vertical line, and the
// lines of one run do not join those of the next.

#include <QScrollBar>
#include <QWidget>
#include <functional>
#include <vector>

#include <qcustomplot.h>

#include "ui/ZoomHistory.h"

namespace moirex {
class TDoubleVector;
}

namespace moirex::ui {

class TFlowGraph final : public QCustomPlot {
public:
    TFlowGraph(TDoubleVector& time, TDoubleVector& gasA, TDoubleVector& gasB, TDoubleVector& gasAAvg,
               QWidget* parent = nullptr);

    QCPAxis* XAxis1() const { return xAxis; }
    QCPAxis* YAxis1() const { return yAxis2; }
    QCPAxis* YAxis2() const { return yAxisB_; }
    QCPGraph* RtLineSeriesA() const { return seriesA_; }
    QCPGraph* RtLineSeriesB() const { return seriesB_; }
    QCPGraph* RtLineSeriesAAvg() const { return seriesAAvg_; }
    const TZoomHistory& RtUndoStack1() const { return undo_; }

    TGraphView View() const;
    void SetView(const TGraphView& view);
    // The view that spans all data (what the graph shows when not zoomed).
    TGraphView DataView() const;
    bool Zoomed() const { return undo_.Count() > 0; }

    // The mouse actions, also callable (tests, scroll bars).
    void ZoomTo(const TGraphView& view);  // pushes the current view first
    void StepBack();
    void ResetZoom();

    // Copies the vectors into the series now (the queued replot does this itself).
    void TakeData();
    // Called after every change of the view (the scroll bars follow).
    std::function<void()> OnViewChanged;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    enum class TDrag { None, Zoom, Pan, Legend, Beside };
    void DataChanged();
    void FitLegend();
    // A dotted vertical line where each run stopped.
    void MarkRunEnds();
    bool InDataArea(const QPoint& pos) const;

    TDoubleVector& time_;
    TDoubleVector& gasA_;
    TDoubleVector& gasB_;
    TDoubleVector& gasAAvg_;
    QCPAxis* yAxisB_ = nullptr;
    QCPGraph* seriesA_ = nullptr;
    QCPGraph* seriesB_ = nullptr;
    QCPGraph* seriesAAvg_ = nullptr;
    std::vector<QCPItemStraightLine*> runEnds_;
    bool dirty_ = true;
    TZoomHistory undo_;

    TDrag drag_ = TDrag::None;
    QPoint pressPos_;
    TGraphView pressView_;
    QPointF legendGrab_;  // where in the legend it was taken, as a fraction of the data area
    QRubberBand* rubberBand_ = nullptr;
};

// The graph with the scroll bars of a zoomed view: one under the time axis, one beside the flow
// axes (gas A's range; gas B's follows in proportion).
class TFlowGraphView final : public QWidget {
public:
    TFlowGraphView(TDoubleVector& time, TDoubleVector& gasA, TDoubleVector& gasB,
                   TDoubleVector& gasAAvg, QWidget* parent = nullptr);
    TFlowGraph* Graph() const { return graph_; }
    QScrollBar* TimeScroll() const { return timeScroll_; }
    QScrollBar* FlowScroll() const { return flowScroll_; }

private:
    void FollowView();
    TFlowGraph* graph_;
    QScrollBar* timeScroll_;
    QScrollBar* flowScroll_;
    bool following_ = false;
};

}  // namespace moirex::ui
