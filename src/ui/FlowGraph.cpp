#include "ui/FlowGraph.h"

#include <QRubberBand>
#include <QVBoxLayout>
#include <algorithm>

#include "core/FlowStatusTexts.h"
#include "form/Controls.h"

namespace moirex::ui {

namespace {
// Date-time values count days since 1899-12-30 in local time; the axis counts seconds since
// 1970-01-01 and is told to show them as they are (UTC), so the local time is shown unchanged.
constexpr double UnixEpochDays = 25569.0;
double AxisSeconds(double dateTime) { return (dateTime - UnixEpochDays) * 86400.0; }

QPen Pen(QRgb argb, Qt::PenStyle style) {
    QPen pen(QColor::fromRgba(argb));
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setStyle(style);
    return pen;
}

double Top(double largest) { return largest > 0 ? largest * 1.1 : 1.0; }

// The largest value, leaving out the gaps of missing readings; 0 for none.
double Largest(const std::vector<double>& values) {
    double largest = 0;
    for (double v : values)
        if (!std::isnan(v)) largest = std::max(largest, v);
    return largest;
}

// Time labels to the second, with milliseconds only when the ticks are closer than a second apart,
// so that no two labels read the same.
class TTimeTicker final : public QCPAxisTickerDateTime {
protected:
    double getTickStep(const QCPRange& range) override {
        step_ = QCPAxisTickerDateTime::getTickStep(range);
        // Whole seconds once the span allows a few of them.
        if (step_ < 1 && range.size() >= 3) step_ = 1;
        return step_;
    }
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar, int precision) override {
        setDateTimeFormat(step_ < 1 ? "hh:mm:ss.zzz\ndd-MM-yyyy" : "hh:mm:ss\ndd-MM-yyyy");
        return QCPAxisTickerDateTime::getTickLabel(tick, locale, formatChar, precision);
    }

private:
    double step_ = 1;
};
}  // namespace

TFlowGraph::TFlowGraph(TDoubleVector& time, TDoubleVector& gasA, TDoubleVector& gasB,
                       TDoubleVector& gasAAvg, QWidget* parent)
    : QCustomPlot(parent), time_(time), gasA_(gasA), gasB_(gasB), gasAAvg_(gasAAvg) {
    setNotAntialiasedElements(QCP::aeAll);
    setNoAntialiasingOnDrag(true);

    auto ticker = QSharedPointer<TTimeTicker>::create();
    ticker->setDateTimeFormat("hh:mm:ss\ndd-MM-yyyy");
    ticker->setDateTimeSpec(Qt::UTC);
    xAxis->setTicker(ticker);
    xAxis->setLabel("Time");

    // Both flow axes on the right: gas A's next to the data, gas B's outside it with red numbers.
    yAxis->setVisible(false);
    yAxis2->setVisible(true);
    yAxis2->setLabel("Gas A, g/min");
    yAxisB_ = axisRect()->addAxis(QCPAxis::atRight);
    yAxisB_->setLabel("Gas B, g/min");
    yAxisB_->setTickLabelColor(Qt::red);
    yAxisB_->setBasePen(QPen(Qt::red));
    yAxisB_->setTickPen(QPen(Qt::red));
    yAxisB_->setSubTickPen(QPen(Qt::red));
    yAxisB_->grid()->setVisible(false);
    yAxis2->grid()->setVisible(true);

    seriesA_ = addGraph(xAxis, yAxis2);
    seriesA_->setName("Gas A actual flow");
    seriesA_->setPen(Pen(0xFF4040FF, Qt::DashLine));
    seriesB_ = addGraph(xAxis, yAxisB_);
    seriesB_->setName("Gas B actual flow");
    seriesB_->setPen(Pen(0xFFFF0000, Qt::SolidLine));
    seriesAAvg_ = addGraph(xAxis, yAxis2);
    seriesAAvg_->setName("Gas A average flow");
    seriesAAvg_->setPen(Pen(0xFF4040FF, Qt::SolidLine));

    // RtLegend1: one column, floating over the data area where the operator puts it.
    legend->setVisible(true);
    legend->setBrush(QColor(255, 255, 255, 220));
    axisRect()->insetLayout()->setInsetPlacement(0, QCPLayoutInset::ipFree);
    axisRect()->insetLayout()->setInsetRect(0, QRectF(0.02, 0.03, 0.2, 0.15));

    // Until the first reading: the next minute from now, in local time as the readings are.
    const QDateTime local = QDateTime::currentDateTime();
    const double now = double(local.toSecsSinceEpoch() + local.offsetFromUtc());
    xAxis->setRange(now, now + 60);
    yAxis2->setRange(0, 1);
    yAxisB_->setRange(0, 1);

    for (TDoubleVector* v : {&time_, &gasA_, &gasB_, &gasAAvg_}) v->Subscribe([this] { DataChanged(); });
    connect(this, &QCustomPlot::beforeReplot, this, [this] {
        if (dirty_) TakeData();
    });
    // The legend's box is as large as its three lines, whatever the size of the data area.
    connect(this, &QCustomPlot::afterLayout, this, [this] { FitLegend(); });
    rubberBand_ = new QRubberBand(QRubberBand::Rectangle, this);
}

void TFlowGraph::DataChanged() {
    dirty_ = true;
    // A hidden graph waits until it is shown.
    if (isVisible()) replot(rpQueuedReplot);
}

void TFlowGraph::showEvent(QShowEvent* event) {
    QCustomPlot::showEvent(event);
    if (dirty_) replot(rpQueuedReplot);
}

void TFlowGraph::TakeData() {
    dirty_ = false;
    const auto& t = time_.Values();
    auto fill = [&t](QCPGraph* series, const std::vector<double>& y) {
        const size_t n = std::min(t.size(), y.size());
        QVector<QCPGraphData> points(static_cast<qsizetype>(n));
        for (size_t i = 0; i < n; ++i) points[static_cast<qsizetype>(i)] = {AxisSeconds(t[i]), y[i]};
        series->data()->set(points, true);
    };
    fill(seriesA_, gasA_.Values());
    fill(seriesB_, gasB_.Values());
    fill(seriesAAvg_, gasAAvg_.Values());
    MarkRunEnds();
    if (!Zoomed()) {
        SetView(DataView());
    }
}

TGraphView TFlowGraph::View() const {
    return {xAxis->range().lower,  xAxis->range().upper,  yAxis2->range().lower,
            yAxis2->range().upper, yAxisB_->range().lower, yAxisB_->range().upper};
}

void TFlowGraph::SetView(const TGraphView& view) {
    xAxis->setRange(view.TimeLo, view.TimeHi);
    yAxis2->setRange(view.ALo, view.AHi);
    yAxisB_->setRange(view.BLo, view.BHi);
    if (OnViewChanged) OnViewChanged();
}

TGraphView TFlowGraph::DataView() const {
    TGraphView view = View();
    const auto& t = time_.Values();
    if (!t.empty()) {
        auto [lo, hi] = std::minmax_element(t.begin(), t.end());
        view.TimeLo = AxisSeconds(*lo);
        view.TimeHi = AxisSeconds(*hi);
        if (view.TimeHi - view.TimeLo < 1) view.TimeHi = view.TimeLo + 1;
    }
    view.ALo = 0;
    view.AHi = Top(std::max(Largest(gasA_.Values()), Largest(gasAAvg_.Values())));
    view.BLo = 0;
    view.BHi = Top(Largest(gasB_.Values()));
    return view;
}

void TFlowGraph::ZoomTo(const TGraphView& view) {
    undo_.Push(View());
    SetView(view);
    replot();
}

void TFlowGraph::StepBack() {
    TGraphView view;
    if (!undo_.Back(view)) return;
    SetView(undo_.Count() == 0 ? DataView() : view);
    replot();
}

void TFlowGraph::ResetZoom() {
    undo_.Clear();
    SetView(DataView());
    replot();
}

bool TFlowGraph::InDataArea(const QPoint& pos) const { return axisRect()->rect().contains(pos); }

void TFlowGraph::mousePressEvent(QMouseEvent* event) {
    drag_ = TDrag::None;
    if (event->button() != Qt::LeftButton) return QCustomPlot::mousePressEvent(event);
    pressPos_ = event->pos();
    pressView_ = View();
    if (legend->visible() && legend->outerRect().contains(event->pos())) {
        drag_ = TDrag::Legend;
        const QRect area = axisRect()->insetLayout()->rect();
        legendGrab_ = QPointF(double(event->pos().x() - legend->outerRect().left()) / area.width(),
                              double(event->pos().y() - legend->outerRect().top()) / area.height());
    } else if (!InDataArea(event->pos())) {
        drag_ = TDrag::Beside;
    } else if (event->modifiers() & Qt::ShiftModifier) {
        drag_ = TDrag::Pan;
        undo_.Push(pressView_);
    } else {
        drag_ = TDrag::Zoom;
        rubberBand_->setGeometry(QRect(pressPos_, QSize()));
        rubberBand_->show();
    }
}

void TFlowGraph::mouseMoveEvent(QMouseEvent* event) {
    const QRect area = axisRect()->rect();
    switch (drag_) {
        case TDrag::Zoom:
            rubberBand_->setGeometry(QRect(pressPos_, event->pos()).normalized().intersected(area));
            break;
        case TDrag::Pan: {
            const double dx = double(event->pos().x() - pressPos_.x()) / std::max(1, area.width());
            const double dy = double(event->pos().y() - pressPos_.y()) / std::max(1, area.height());
            TGraphView v = pressView_;
            const double dt = dx * (v.TimeHi - v.TimeLo);
            const double da = dy * (v.AHi - v.ALo);
            const double db = dy * (v.BHi - v.BLo);
            SetView({v.TimeLo - dt, v.TimeHi - dt, v.ALo + da, v.AHi + da, v.BLo + db, v.BHi + db});
            replot(rpQueuedReplot);
            break;
        }
        case TDrag::Legend: {
            const QRect inner = axisRect()->insetLayout()->rect();
            QRectF inset = axisRect()->insetLayout()->insetRect(0);
            inset.moveTopLeft(QPointF(double(event->pos().x() - inner.left()) / inner.width(),
                                      double(event->pos().y() - inner.top()) / inner.height()) -
                              legendGrab_);
            axisRect()->insetLayout()->setInsetRect(0, inset);
            replot(rpQueuedReplot);
            break;
        }
        default:
            QCustomPlot::mouseMoveEvent(event);
    }
}

void TFlowGraph::mouseReleaseEvent(QMouseEvent* event) {
    const TDrag drag = drag_;
    drag_ = TDrag::None;
    if (event->button() != Qt::LeftButton) return QCustomPlot::mouseReleaseEvent(event);
    if (drag == TDrag::Zoom) {
        rubberBand_->hide();
        const QRect r = QRect(pressPos_, event->pos()).normalized().intersected(axisRect()->rect());
        // A click without a drag zooms nothing.
        if (r.width() < 4 || r.height() < 4) return;
        ZoomTo({xAxis->pixelToCoord(r.left()), xAxis->pixelToCoord(r.right()),
                yAxis2->pixelToCoord(r.bottom()), yAxis2->pixelToCoord(r.top()),
                yAxisB_->pixelToCoord(r.bottom()), yAxisB_->pixelToCoord(r.top())});
    } else if (drag == TDrag::Beside) {
        StepBack();
    } else if (drag == TDrag::Pan && View() == pressView_) {
        TGraphView unused;
        undo_.Back(unused);  // a Shift-click that moved nothing is no step
    }
}

void TFlowGraph::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && !InDataArea(event->pos())) {
        drag_ = TDrag::None;
        ResetZoom();
        return;
    }
    QCustomPlot::mouseDoubleClickEvent(event);
}

void TFlowGraph::MarkRunEnds() {
    for (QCPItemStraightLine* line : runEnds_) removeItem(line);
    runEnds_.clear();
    const auto& t = time_.Values();
    for (int i = 0; i < static_cast<int>(t.size()); ++i) {
        if (!IsRunEnd(gasA_, gasB_, gasAAvg_, i)) continue;
        auto* line = new QCPItemStraightLine(this);
        line->setClipToAxisRect(true);
        QPen pen(Qt::darkGray);
        pen.setCosmetic(true);
        pen.setStyle(Qt::DotLine);
        line->setPen(pen);
        const double x = AxisSeconds(t[static_cast<size_t>(i)]);
        line->point1->setCoords(x, 0);
        line->point2->setCoords(x, 1);
        runEnds_.push_back(line);
    }
}

void TFlowGraph::FitLegend() {
    const QRect area = axisRect()->insetLayout()->rect();
    if (area.width() <= 0 || area.height() <= 0) return;
    const QSize hint = legend->minimumOuterSizeHint();
    QRectF inset = axisRect()->insetLayout()->insetRect(0);
    inset.setWidth(double(hint.width()) / area.width());
    inset.setHeight(double(hint.height()) / area.height());
    if (inset == axisRect()->insetLayout()->insetRect(0)) return;
    axisRect()->insetLayout()->setInsetRect(0, inset);
    axisRect()->insetLayout()->update(QCPLayoutElement::upLayout);
}


TFlowGraphView::TFlowGraphView(TDoubleVector& time, TDoubleVector& gasA, TDoubleVector& gasB,
                               TDoubleVector& gasAAvg, QWidget* parent)
    : QWidget(parent),
      graph_(new TFlowGraph(time, gasA, gasB, gasAAvg, this)),
      timeScroll_(new QScrollBar(Qt::Horizontal, this)),
      flowScroll_(new QScrollBar(Qt::Vertical, this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->addWidget(graph_, 0, 0);
    grid->addWidget(flowScroll_, 0, 1);
    grid->addWidget(timeScroll_, 1, 0);
    timeScroll_->hide();
    flowScroll_->hide();
    graph_->OnViewChanged = [this] { FollowView(); };

    // The bars count in thousandths of the data's extent.
    connect(timeScroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (following_) return;
        const TGraphView all = graph_->DataView();
        TGraphView v = graph_->View();
        const double span = v.TimeHi - v.TimeLo;
        v.TimeLo = all.TimeLo + (all.TimeHi - all.TimeLo) * value / 1000.0;
        v.TimeHi = v.TimeLo + span;
        graph_->SetView(v);
        graph_->replot(QCustomPlot::rpQueuedReplot);
    });
    connect(flowScroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (following_) return;
        const TGraphView all = graph_->DataView();
        TGraphView v = graph_->View();
        // Top of the bar = top of the data.
        const double spanA = v.AHi - v.ALo, spanB = v.BHi - v.BLo;
        const double fraction = 1.0 - value / 1000.0;
        v.AHi = all.ALo + (all.AHi - all.ALo) * fraction;
        v.ALo = v.AHi - spanA;
        v.BHi = all.BLo + (all.BHi - all.BLo) * fraction;
        v.BLo = v.BHi - spanB;
        graph_->SetView(v);
        graph_->replot(QCustomPlot::rpQueuedReplot);
    });
}

void TFlowGraphView::FollowView() {
    following_ = true;
    const bool zoomed = graph_->Zoomed();
    timeScroll_->setVisible(zoomed);
    flowScroll_->setVisible(zoomed);
    if (zoomed) {
        const TGraphView all = graph_->DataView();
        const TGraphView v = graph_->View();
        auto place = [](QScrollBar* bar, double lo, double hi, double allLo, double allHi, bool down) {
            const double extent = allHi - allLo;
            if (extent <= 0) return;
            const int page = std::clamp(int((hi - lo) / extent * 1000), 1, 1000);
            bar->setRange(0, 1000 - page);
            bar->setPageStep(page);
            const double start = down ? (allHi - hi) / extent : (lo - allLo) / extent;
            bar->setValue(std::clamp(int(start * 1000), 0, 1000 - page));
        };
        place(timeScroll_, v.TimeLo, v.TimeHi, all.TimeLo, all.TimeHi, false);
        place(flowScroll_, v.ALo, v.AHi, all.ALo, all.AHi, true);
    }
    following_ = false;
}

}  // namespace moirex::ui
