// Pages 0 to 2: instrument set-up, pump and fluid details, service tools and demo values.
#include <QGridLayout>

#include "form/Form.h"
#include "ui/PageBuilder.h"
#include "ui/Pages.h"

namespace moirex::ui {

using namespace build;

namespace {
constexpr int SetupGroupWidth = 334;

QVBoxLayout* ListUnder(const QString& label, QListWidget* list) {
    auto* column = new QVBoxLayout;
    column->addWidget(new QLabel(label));
    column->addWidget(list);
    return column;
}
}  // namespace

QWidget* SetupPage(TForm1& f) {
    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);

    auto* left = new QVBoxLayout;
    QGroupBox* g1 = Group(f.GroupBox1);
    auto* find = Column(g1);
    find->addWidget(Button(f.ButtonSetupFindPorts), 0, Qt::AlignLeft);
    QLineEdit* portName = Edit(f.EditAddPort, 200);
    portName->setPlaceholderText("port name, such as ttyUSB0");
    auto* add = Row({}, portName);
    add->insertWidget(1, Button(f.ButtonAddPort));
    find->addLayout(add);
    QGroupBox* g2 = Group(f.GroupBox2);
    auto* lists = new QHBoxLayout;
    lists->addLayout(ListUnder("Port for pump", PortList(f.ListBoxPortPump)));
    lists->addLayout(ListUnder("Port for MFC A", PortList(f.ListBoxPortMFC1)));
    lists->addLayout(ListUnder("Port for MFC B", PortList(f.ListBoxPortMFC2)));
    Column(g2)->addLayout(lists);
    QGroupBox* g12 = Group(f.GroupBox12);
    Column(g12)->addWidget(Button(f.ButtonSetupValidate), 0, Qt::AlignLeft);
    QGroupBox* g11 = Group(f.GroupBox11);
    auto* gases = new QHBoxLayout;
    gases->addLayout(ListUnder("MFC A", List(f.ListBox1)));
    gases->addLayout(ListUnder("MFC B", List(f.ListBox2)));
    Column(g11)->addLayout(gases);
    for (QGroupBox* g : {g1, g2, g12, g11}) {
        g->setFixedWidth(SetupGroupWidth);
        left->addWidget(g);
    }
    left->setStretch(1, 3);
    left->setStretch(3, 2);

    QGroupBox* g3 = Group(f.GroupBox3);
    auto* feedback = Column(g3);
    feedback->addWidget(Check(f.CheckBoxPump));
    feedback->addWidget(Check(f.CheckBoxMFC));
    feedback->addWidget(Check(f.CheckBoxGas));
    feedback->addWidget(Check(f.CheckBoxAllowRemoteControl));
    feedback->addWidget(new QLabel("Additional Information"));
    feedback->addWidget(Pane(f.MemoSetupFeedback, true), 1);

    columns->addLayout(left);
    columns->addStretch(1);
    // Its width follows the window (FormResize); anchored to the right as to the other sides.
    columns->addWidget(g3);
    return page;
}

QWidget* PumpAndFluidPage(TForm1& f) {
    auto* page = new QWidget;
    auto* outer = new QVBoxLayout(page);
    auto* columns = new QHBoxLayout;
    outer->addLayout(columns, 1);

    // Left column: syringe, outlet conditions, fluid limit.
    auto* left = new QVBoxLayout;
    QGroupBox* g18 = Group(f.GroupBox18);
    Column(g18)->addLayout(Row("Syringe volume", Edit(f.RtDoubleEditSyringeVolume), "\u00B5l", 130));
    QGroupBox* g16 = Group(f.GroupBox16);
    auto* outlet = Column(g16);
    outlet->addLayout(Row("Ambient Temperature", Edit(f.RtDoubleEditCustomTemp), "\u00BAC", 130));
    outlet->addLayout(Row("Ambient pressure", Edit(f.RtDoubleEditCustomPressure), "millibar", 130));
    QGroupBox* g15 = Group(f.GroupBox15);
    Column(g15)->addLayout(Row({}, Edit(f.RtIntegerEditFluidPPMLimit), "ppm"));
    for (QGroupBox* g : {g18, g16, g15}) {
        g->setFixedWidth(360);
        left->addWidget(g);
    }
    left->addStretch(1);
    columns->addLayout(left);

    // Right: the designer above the fluid assigned to the pump.
    auto* right = new QVBoxLayout;
    QGroupBox* g17 = Group(f.GroupBox17);
    auto* designer = new QHBoxLayout(g17);
    auto* inputs = new QVBoxLayout;
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Component"), 0, 0);
    grid->addWidget(new QLabel("Mass, g"), 0, 1);
    TComboBox* combos[] = {&f.ComboBoxMix1, &f.ComboBoxMix2, &f.ComboBoxMix3, &f.ComboBoxMix4};
    TRealEdit* masses[] = {&f.RtDoubleEdit1, &f.RtDoubleEdit2, &f.RtDoubleEdit3, &f.RtDoubleEdit4};
    for (int i = 0; i < 4; ++i) {
        QComboBox* combo = Combo(*combos[i]);
        combo->setFixedWidth(150);
        grid->addWidget(combo, i + 1, 0);
        grid->addWidget(Edit(*masses[i]), i + 1, 1);
    }
    inputs->addLayout(grid);
    constexpr int lw = 120;
    inputs->addLayout(Row("Mixture name", Edit(f.EditDesignedMixtureName, 150), {}, lw));
    inputs->addLayout(Row("Final density, g/ml", Edit(f.RtDoubleEditDesignedMixtureDensity), {}, lw));
    inputs->addLayout(Row("Molar mass g/mol", Edit(f.RtDoubleEditDesignMixtureMolarMass), {}, lw));
    inputs->addLayout(Row("Calculated mol/ml", Edit(f.RtDoubleEditDesigtnMixtureMOLperML), {}, lw));
    inputs->addLayout(Row("Calculated mg/stroke", Edit(f.RtDoubleEditDesignMixtureMGperStroke), {}, lw));
    for (TLabel* note : {&f.Label37, &f.Label38, &f.Label36}) {
        QLabel* l = Label(*note);
        l->setWordWrap(true);
        inputs->addWidget(l);
    }
    inputs->addWidget(Button(f.ButtonRestoreWater), 0, Qt::AlignLeft);
    inputs->addStretch(1);
    auto* inputsBox = new QWidget;
    inputsBox->setLayout(inputs);
    inputsBox->setFixedWidth(300);
    designer->addWidget(inputsBox);
    designer->addWidget(Pane(f.Memo2, true), 1);
    right->addWidget(g17, 1);

    QGroupBox* g13 = Group(f.GroupBox13);
    auto* fluid = new QGridLayout(g13);
    struct {
        const char* label;
        QWidget* field;
    } fields[] = {
        {"Name", Edit(f.EditFluidName, 150)},
        {"Final density at 20\u00BAC, g/ml", Edit(f.RtDoubleEditFluidDensity)},
        {"Molar mass g/mol", Edit(f.RtDoubleEditFluidMolarMass)},
        {"Calculated mol/ml", Edit(f.RtDoubleEditFluidMolPerGram)},
        {"Calculated mg/stroke", Edit(f.RtDoubleEditSyringeGramsperStroke)},
        {"Calculated mol/step", Edit(f.RtDoubleEditmolperstep)},
        {"Calculated mg/step", Edit(f.RtDoubleEditmgperStep)},
    };
    // Two columns of label and field.
    for (int i = 0; i < 7; ++i) {
        const int row = i < 4 ? i : i - 4;
        const int col = i < 4 ? 0 : 3;
        fluid->addWidget(new QLabel(fields[i].label), row, col);
        fluid->addWidget(fields[i].field, row, col + 1);
    }
    fluid->setColumnMinimumWidth(2, 30);
    fluid->setColumnStretch(5, 1);
    right->addWidget(g13);
    columns->addLayout(right, 1);

    outer->addWidget(Button(f.ButtonApplyPumpAndFluid));
    return page;
}

QWidget* DebugPage(TForm1& f) {
    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);

    auto* left = new QVBoxLayout;
    QGroupBox* g4 = Group(f.GroupBox4);
    auto* com = Column(g4);
    com->addLayout(Row("Port", Edit(f.EditDebugCOMPort, 220), {}, 40));
    auto* send = Row("Send", Edit(f.EditDebugCOMSend, 220), {}, 40);
    send->insertWidget(2, Button(f.ButtonDebugCOMSend));
    com->addLayout(send);
    com->addWidget(Button(f.Button2), 0, Qt::AlignLeft);
    com->addWidget(new QLabel("Response"));
    com->addWidget(Pane(f.MemoDebugCOM, true), 1);
    left->addWidget(g4, 1);

    QGroupBox* g5 = Group(f.GroupBox5);
    auto* demo = Column(g5);
    auto* note = new QLabel(
        "These values exist for demonstration purposes, and apply when the software is in "
        "'Simulation' mode.");
    note->setWordWrap(true);
    demo->addWidget(note);
    auto* controllers = new QHBoxLayout;
    auto demoGroup = [](TGroupBox& group, TEdit& name, TRealEdit& mass, TRealEdit& range,
                        TRealEdit& turndown, std::initializer_list<TButton*> buttons) {
        QGroupBox* g = Group(group);
        auto* c = Column(g);
        constexpr int lw = 120;
        c->addLayout(Row("Gas name", Edit(name, 90), {}, lw));
        c->addLayout(Row("Gas mass", Edit(mass), {}, lw));
        c->addLayout(Row("MFC range g/min", Edit(range), {}, lw));
        c->addLayout(Row("MFC turndown ratio", Edit(turndown), {}, lw));
        auto* row = new QHBoxLayout;
        for (TButton* b : buttons) row->addWidget(Button(*b));
        row->addStretch(1);
        c->addLayout(row);
        return g;
    };
    controllers->addWidget(demoGroup(f.GroupBox6, f.EditY1DemoName, f.RtDoubleEditY1DemoMass,
                                     f.RtDoubleEditY1DemoRange, f.RtDoubleEditY1DemoTurndown,
                                     {&f.ButtonMFCAAir, &f.ButtonMFCAH2, &f.ButtonMFCAH2inAr99}));
    controllers->addWidget(demoGroup(f.GroupBox7, f.EditY2DemoName, f.RtDoubleEditY2DemoMass,
                                     f.RtDoubleEditY2DemoRange, f.RtDoubleEditY2DemoTurndown,
                                     {&f.ButtonMFCBAir, &f.ButtonMFCBN2}));
    demo->addLayout(controllers);
    left->addWidget(g5);
    columns->addLayout(left, 3);

    auto* right = new QVBoxLayout;
    QGroupBox* g9 = Group(f.GroupBox9);
    auto* priming = Column(g9);
    priming->addWidget(Label(f.Label17));
    priming->addWidget(Button(f.ButtonPumpFluidFast), 0, Qt::AlignLeft);
    priming->addStretch(1);
    QGroupBox* g19 = Group(f.GroupBox19);
    auto* syringe = Column(g19);
    syringe->addWidget(Label(f.Label69));
    syringe->addWidget(Button(f.Button1), 0, Qt::AlignLeft);
    syringe->addStretch(1);
    right->addWidget(g9);
    right->addWidget(g19);
    right->addStretch(1);
    columns->addLayout(right, 2);
    return page;
}

}  // namespace moirex::ui
