// Pages 3 to 6: mixture design and operation, the flow graph, the run log and the pump table.
#include <QFrame>
#include <QPointer>
#include <algorithm>
#include <array>

#include "form/Form.h"
#include "ui/FlowGraph.h"
#include "ui/LedDisplay.h"
#include "ui/Mirror.h"
#include "ui/PageBuilder.h"
#include "ui/Pages.h"

namespace moirex::ui {

using namespace build;

namespace {
constexpr int PanelWidths[TStatusBar::PanelCount] = {220, 310, 290, 200, 250};
constexpr int PanelGap = 2;
constexpr int PanelHeight = 19;

// The five panels are wider together (1270 px) than the window. The warnings panel, the last, is
// always shown whole, at its width or as wide as its text needs; the four reading panels share
// what is left in proportion to their widths, each cut at its end when it has to give way (its
// whole text is then its tip).
class TStatusBarWidget final : public QWidget {
public:
    TStatusBarWidget() {
        setFixedHeight(PanelHeight);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        for (size_t i = 0; i < panels_.size(); ++i) {
            auto* panel = new QLabel(this);
            panel->setFrameShape(QFrame::Panel);
            panel->setFrameShadow(QFrame::Sunken);
            panels_[i] = panel;
        }
    }
    const std::array<QLabel*, TStatusBar::PanelCount>& Panels() const { return panels_; }

    void Place() {
        QLabel* warnings = panels_.back();
        const int wanted = std::max(PanelWidths[TStatusBar::PanelCount - 1], warnings->sizeHint().width() + 8);
        const int last = std::min(width(), wanted);
        int readings = 0;
        for (int i = 0; i + 1 < TStatusBar::PanelCount; ++i) readings += PanelWidths[i] + PanelGap;
        const double share = std::min(1.0, double(std::max(0, width() - last)) / readings);
        int x = 0;
        for (int i = 0; i + 1 < TStatusBar::PanelCount; ++i) {
            QLabel* panel = panels_[static_cast<size_t>(i)];
            const int w = int(PanelWidths[i] * share);
            panel->setGeometry(x, 0, w, PanelHeight);
            panel->setToolTip(panel->sizeHint().width() > w ? panel->text() : QString());
            x += w + int(PanelGap * share);
        }
        warnings->setGeometry(std::max(0, width() - last), 0, last, PanelHeight);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        Place();
    }

private:
    std::array<QLabel*, TStatusBar::PanelCount> panels_{};
};

QWidget* StatusBar(TStatusBar& control) {
    auto* bar = new TStatusBarWidget;
    bar->setObjectName(QString::fromStdString(control.Name));
    for (int i = 0; i < TStatusBar::PanelCount; ++i)
        bar->Panels()[static_cast<size_t>(i)]->setObjectName(QString("%1.Panel%2").arg(bar->objectName()).arg(i));
    Mirror(control, bar->Panels());
    QPointer<TStatusBarWidget> alive(bar);
    control.Subscribe([alive] {
        if (alive) alive->Place();
    });
    bar->Place();
    return bar;
}

// A track bar with "Minimum" at its left end and "Maximum" at its right end.
QVBoxLayout* Track(TTrackBar& control, QSlider** slider) {
    auto* column = new QVBoxLayout;
    *slider = build::Track(control);
    column->addWidget(*slider);
    auto* ends = new QHBoxLayout;
    ends->addWidget(new QLabel("Minimum"));
    ends->addStretch(1);
    ends->addWidget(new QLabel("Maximum"));
    column->addLayout(ends);
    return column;
}

QGroupBox* GasGroup(TGroupBox& group, TTrackBar& track, TIntegerEdit& flow, TLabel& grams, TLabel& correction) {
    QGroupBox* g = Group(group);
    auto* c = Column(g);
    QSlider* slider = nullptr;
    c->addLayout(Track(track, &slider));
    auto* row = Row("Flow \u00B5g/min", Edit(flow, 110), {}, 95);
    row->insertWidget(2, Label(grams));
    c->addLayout(row);
    // What the controller's range will make of a flow being typed; an empty line otherwise.
    QLabel* hint = Label(correction);
    hint->setWordWrap(true);
    QPalette palette = hint->palette();
    palette.setColor(QPalette::WindowText, QColor(0xB0, 0x40, 0x00));
    hint->setPalette(palette);
    hint->setMinimumHeight(hint->fontMetrics().height());
    c->addWidget(hint);
    return g;
}
}  // namespace

QWidget* DesignPage(TForm1& f) {
    auto* page = new QWidget;
    auto* outer = new QVBoxLayout(page);
    outer->setSpacing(4);
    outer->addWidget(StatusBar(f.StatusBar1));
    auto* display = new TLedDisplayWidget;
    display->setObjectName(QString::fromStdString(f.RzLEDDisplay1.Name));
    Mirror(f.RzLEDDisplay1, display);
    outer->addWidget(display);

    auto* columns = new QHBoxLayout;
    outer->addLayout(columns, 1);

    // Left: the three components and the segment editor.
    auto* left = new QVBoxLayout;
    left->addWidget(GasGroup(f.GroupBoxY1, f.RzTrackBarY1, f.RtIntegerEditY1Flow, f.Label10, f.LabelY1Correction));
    left->addWidget(GasGroup(f.GroupBoxY2, f.RzTrackBarY2, f.RtIntegerEditY2Flow, f.Label45, f.LabelY2Correction));
    QGroupBox* gx = Group(f.GroupBoxX);
    auto* cx = Column(gx);
    QSlider* fluidSlider = nullptr;
    cx->addLayout(Track(f.RzTrackBarFluid, &fluidSlider));
    constexpr int lw = 95;
    cx->addLayout(Row("Desired flow", Edit(f.RtDoubleEditFluidFlow, 110), "\u00B5g/min", lw));
    cx->addLayout(Row("Achievable", Edit(f.RtDoubleEditAchievableFluid, 110), "\u00B5g/min", lw));
    // A pump command is up to 35 characters: on its own line under its name, the group's width.
    QLabel* pumpCommand = Label(f.Label30);
    pumpCommand->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cx->addWidget(new QLabel("Pump command:"));
    cx->addWidget(pumpCommand);
    cx->addLayout(Row("Pump speed:", Label(f.Label55), {}, lw));
    left->addWidget(gx);
    QGroupBox* g14 = Group(f.GroupBox14);
    auto* c14 = Column(g14);
    auto* duration = Row("Duration", Edit(f.RtDoubleEditStepDuration, 70), "Hours", 60);
    duration->insertWidget(3, Label(f.Label31));
    c14->addLayout(duration);
    c14->addLayout(Row("Comments", Edit(f.EditStepComments, 240), {}, 60));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button(f.ButtonAddStep));
    buttons->addWidget(Button(f.ButtonSegmentDelete));
    buttons->addStretch(1);
    c14->addLayout(buttons);
    left->addWidget(g14);
    left->addStretch(1);
    auto* leftBox = new QWidget;
    leftBox->setLayout(left);
    leftBox->layout()->setContentsMargins(0, 0, 0, 0);
    leftBox->setFixedWidth(330);
    columns->addWidget(leftBox);

    // Middle: operation above the segment program.
    auto* middle = new QVBoxLayout;
    QGroupBox* g10 = Group(f.GroupBox10);
    auto* c10 = Column(g10);
    auto* note = new QLabel("Once satisfied with the mixture design, start the pump here");
    note->setWordWrap(true);
    c10->addWidget(note);
    auto* run = new QHBoxLayout;
    run->addWidget(Button(f.ButtonApply));
    run->addWidget(Button(f.ButtonStop));
    run->addStretch(1);
    c10->addLayout(run);
    middle->addWidget(g10);
    QGroupBox* g8 = Group(f.GroupBox8);
    auto* c8 = Column(g8);
    c8->addWidget(TabbedList(f.RzTabbedListBoxSteps), 1);
    auto* end = new QLabel("All flow will automatically stop after the last segment duration");
    end->setWordWrap(true);
    c8->addWidget(end);
    middle->addWidget(g8, 1);
    auto* middleBox = new QWidget;
    middleBox->setLayout(middle);
    middleBox->layout()->setContentsMargins(0, 0, 0, 0);
    middleBox->setFixedWidth(330);
    columns->addWidget(middleBox);

    // Right: the mixture report, and the segment editor's and the program check's messages, whose
    // sentences are longer than the pane is wide: a long line wraps instead of running past it.
    QPlainTextEdit* report = Pane(f.Memo1, false);
    report->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    columns->addWidget(report, 1);
    return page;
}

TFlowGraphView* FlowsPage(TForm1& f) {
    auto* view = new TFlowGraphView(f.RtDoubleVectorTime, f.RtDoubleVector2GasAReal,
                                    f.RtDoubleVectorGasBReal, f.RtDoubleVectorGasAAvg);
    view->setObjectName("TabSheet5");
    view->Graph()->setObjectName("RtGraph2D1");
    return view;
}

namespace {
QWidget* PanePage(TMemo& memo) {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Pane(memo, false));
    return page;
}
}  // namespace

QWidget* LogPage(TForm1& f) { return PanePage(f.MemoLog); }

QWidget* PumpInfoPage(TForm1& f) { return PanePage(f.MemoPump); }

}  // namespace moirex::ui
