// Pages 3 to 6: mixture design and operation, the flow graph, the run log and the pump table.
#include <QFrame>

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

QWidget* StatusBar(TStatusBar& control) {
    // The five panels are wider together (1270 px) than the window, so they are placed at fixed
    // places, not by a layout: the last one is cut at the window's edge, none is squeezed.
    auto* bar = new QWidget;
    bar->setObjectName(QString::fromStdString(control.Name));
    constexpr int height = 19;
    bar->setFixedHeight(height);
    bar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    std::array<QLabel*, TStatusBar::PanelCount> panels{};
    int x = 0;
    for (int i = 0; i < TStatusBar::PanelCount; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString("%1.Panel%2").arg(bar->objectName()).arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setGeometry(x, 0, PanelWidths[i], height);
        x += PanelWidths[i] + 2;
        panels[static_cast<size_t>(i)] = panel;
    }
    Mirror(control, panels);
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

QGroupBox* GasGroup(TGroupBox& group, TTrackBar& track, TIntegerEdit& flow, TLabel& grams) {
    QGroupBox* g = Group(group);
    auto* c = Column(g);
    QSlider* slider = nullptr;
    c->addLayout(Track(track, &slider));
    auto* row = Row("Flow \u00B5g/min", Edit(flow, 110), {}, 95);
    row->insertWidget(2, Label(grams));
    c->addLayout(row);
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
    left->addWidget(GasGroup(f.GroupBoxY1, f.RzTrackBarY1, f.RtIntegerEditY1Flow, f.Label10));
    left->addWidget(GasGroup(f.GroupBoxY2, f.RzTrackBarY2, f.RtIntegerEditY2Flow, f.Label45));
    QGroupBox* gx = Group(f.GroupBoxX);
    auto* cx = Column(gx);
    QSlider* fluidSlider = nullptr;
    cx->addLayout(Track(f.RzTrackBarFluid, &fluidSlider));
    constexpr int lw = 95;
    cx->addLayout(Row("Desired flow", Edit(f.RtDoubleEditFluidFlow, 110), "\u00B5g/min", lw));
    cx->addLayout(Row("Achievable", Edit(f.RtDoubleEditAchievableFluid, 110), "\u00B5g/min", lw));
    auto* command = Row("Pump command:", Label(f.Label30), {}, lw);
    cx->addLayout(command);
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

    // Right: the mixture report.
    columns->addWidget(Pane(f.Memo1, false), 1);
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
