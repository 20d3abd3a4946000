#include "ui/DesignByTargetDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "form/Form.h"
#include "model/DesignOnPage.h"
#include "model/MixtureReport.h"
#include "state/MixerState.h"
#include "support/TextFormat.h"
#include "ui/Fonts.h"

namespace moirex::ui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The components of the gases as the report lists them, gas A's first.
QStringList ComponentNames(const TDesignSources& sources) {
    QStringList names;
    for (const TGasSource* gas : {&sources.GasA, &sources.GasB}) {
        TComponentDictionary dictionary;
        CollectComponents(GasPart(*gas, 1000000), dictionary);
        for (const auto& [key, entry] : dictionary)
            if (!names.contains(Q(key))) names << Q(key);
    }
    return names;
}

QString GasCaption(const TGasSource& gas) {
    const TGasItem part = GasPart(gas, 1000000);
    if (part.GasNameMFC.empty()) return "no gas the catalogue knows (" + Q(gas.Entry.NameShort) + ")";
    return Q(part.GasNameLong) + ", range " + Q(FormatMask(gas.Entry.RangeMin, "0.### ###")) + " .. " +
           Q(FormatMask(gas.Entry.RangeMax, "0.### ###")) + " g/min";
}

bool ReadNumber(const QLineEdit* field, const QString& what, double& value, QString& error) {
    if (ParseReal(field->text().trimmed().toStdString(), value)) return true;
    error = what + ": not a number";
    return false;
}

}  // namespace

TDesignByTargetDialog::TDesignByTargetDialog(TMixer& mixer, QWidget* parent) : QDialog(parent), mixer_(mixer) {
    setWindowTitle("Design by target");
    setFont(WindowFont());
    setObjectName("DesignByTargetDialog");
    const TDesignSources sources = DesignSourcesOf(mixer_);

    auto* layout = new QVBoxLayout(this);
    auto* given = new QFormLayout;
    given->addRow("Gas A:", new QLabel(GasCaption(sources.GasA)));
    given->addRow("Gas B:", new QLabel(GasCaption(sources.GasB)));
    given->addRow("Fluid C:", new QLabel(Q(sources.Fluid.Fluid.GasNameLong)));
    given->addRow("Outlet:", new QLabel(Q(FormatGeneral(sources.TemperatureC)) + " \u00B0C, " +
                                        Q(FormatGeneral(sources.PressuremBar)) + " mbar"));
    layout->addLayout(given);

    auto* asked = new QFormLayout;
    auto* totalRow = new QHBoxLayout;
    total_ = new QLineEdit("1000");
    total_->setObjectName("DesignTotal");
    totalUnit_ = new QComboBox;
    totalUnit_->setObjectName("DesignTotalUnit");
    totalUnit_->addItems({"ml/min at the outlet", "g/min"});
    totalRow->addWidget(total_);
    totalRow->addWidget(totalUnit_);
    asked->addRow("Total flow:", totalRow);

    auto* componentRow = new QHBoxLayout;
    component_ = new QComboBox;
    component_->setObjectName("DesignComponent");
    component_->addItems(ComponentNames(sources));
    componentPpm_ = new QLineEdit("500");
    componentPpm_->setObjectName("DesignComponentPpm");
    componentRow->addWidget(component_);
    componentRow->addWidget(componentPpm_);
    componentRow->addWidget(new QLabel("ppm"));
    asked->addRow("Component:", componentRow);

    auto* fluidRow = new QHBoxLayout;
    fluidKind_ = new QComboBox;
    fluidKind_->setObjectName("DesignFluidKind");
    fluidKind_->addItems({"no fluid", "RH of water, %", "fluid, ppm"});
    fluidValue_ = new QLineEdit("0");
    fluidValue_->setObjectName("DesignFluidValue");
    fluidRow->addWidget(fluidKind_);
    fluidRow->addWidget(fluidValue_);
    asked->addRow("Fluid:", fluidRow);
    layout->addLayout(asked);

    result_ = new QPlainTextEdit;
    result_->setObjectName("DesignResult");
    result_->setReadOnly(true);
    result_->setFont(FixedPitchFont());
    result_->setMinimumSize(560, 170);
    layout->addWidget(result_, 1);

    auto* buttons = new QDialogButtonBox;
    auto* calculate = buttons->addButton("Calculate", QDialogButtonBox::ActionRole);
    calculate->setObjectName("DesignCalculate");
    apply_ = buttons->addButton("Apply", QDialogButtonBox::AcceptRole);
    apply_->setObjectName("DesignApply");
    apply_->setEnabled(false);
    buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);

    connect(calculate, &QPushButton::clicked, this, [this] { Calculate(); });
    connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    for (QLineEdit* field : {total_, componentPpm_, fluidValue_})
        connect(field, &QLineEdit::textEdited, this, [this] { FieldsChanged(); });
    for (QComboBox* box : {totalUnit_, component_, fluidKind_})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { FieldsChanged(); });
}

bool TDesignByTargetDialog::ReadTarget(TDesignTarget& target, QString& error) const {
    target.TotalUnit = totalUnit_->currentIndex() == 0 ? TTotalFlowUnit::tuVolume_mlpm : TTotalFlowUnit::tuMass_gpm;
    if (!ReadNumber(total_, "Total flow", target.Total, error)) return false;
    target.Component = component_->currentText().toStdString();
    if (!ReadNumber(componentPpm_, "Component ppm", target.ComponentPpm, error)) return false;
    switch (fluidKind_->currentIndex()) {
        case 1: target.Fluid = TFluidTarget::ftRelativeHumidity; break;
        case 2: target.Fluid = TFluidTarget::ftFluidPpm; break;
        default: target.Fluid = TFluidTarget::ftNone; break;
    }
    if (target.Fluid != TFluidTarget::ftNone && !ReadNumber(fluidValue_, "Fluid", target.FluidValue, error)) return false;
    return true;
}

void TDesignByTargetDialog::FieldsChanged() {
    // A shown proposal belongs to the fields it was made for.
    proposalCurrent_ = false;
    apply_->setEnabled(false);
}

void TDesignByTargetDialog::Calculate() {
    TDesignTarget target;
    QString error;
    if (!ReadTarget(target, error)) {
        result_->setPlainText(error);
        FieldsChanged();
        return;
    }
    proposal_ = DesignByTarget(DesignSourcesOf(mixer_), target);
    result_->setPlainText(Q(DesignResultText(proposal_)).replace("\r\n", "\n"));
    proposalCurrent_ = !proposal_.Refused();
    apply_->setEnabled(proposalCurrent_);
}

void TDesignByTargetDialog::Apply() {
    if (!proposalCurrent_) return;
    if (!ApplyDesign(mixer_, proposal_)) {
        result_->appendPlainText("\nThe design page takes no input now (a run is going on): nothing was set.");
        return;
    }
    accept();
}

void AddDesignByTargetButton(QWidget& window, TMixer& mixer) {
    auto* addStep = window.findChild<QPushButton*>(Q(mixer.Form.ButtonAddStep.Name));
    if (!addStep || !addStep->parentWidget()) return;
    auto* button = new QPushButton("Design by target...");
    button->setObjectName("ButtonDesignByTarget");
    QObject::connect(button, &QPushButton::clicked, &window, [&window, &mixer] {
        // Only where the segment editor takes input (not while a run is going on).
        if (!mixer.Form.ButtonAddStep.AcceptsInput()) return;
        TDesignByTargetDialog dialog(mixer, &window);
        dialog.exec();
    });
    // In a row of its own below the segment editor's buttons, which fill their row already.
    for (QHBoxLayout* row : addStep->parentWidget()->findChildren<QHBoxLayout*>()) {
        if (row->indexOf(addStep) < 0) continue;
        auto* line = new QHBoxLayout;
        line->addWidget(button);
        line->addStretch(1);
        if (auto* column = qobject_cast<QBoxLayout*>(row->parent()))
            column->insertLayout(column->indexOf(row) + 1, line);
        else
            row->addLayout(line);
        return;
    }
    delete button;
}

}  // namespace moirex::ui
