#include "ui/ProgramFileButtons.h"

#include <QBoxLayout>
#include <QFileDialog>
#include <QGroupBox>
#include <QPushButton>
#include <memory>

#include "core/ProgramCheck.h"
#include "core/ProgramOpenSave.h"
#include "form/Form.h"
#include "state/MixerState.h"
#include "support/DateTime.h"
#include "support/FileLocations.h"

namespace moirex::ui {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

const char* const kProgramFilter = "Segment programs (*.csv);;All files (*)";

QString AskWithDialog(QWidget* parent, bool save) {
    std::string error;
    const std::string folder = UserdataFolder();
    EnsureFolder(folder, error);  // the dialog starts there; without it, wherever the desktop says
    if (save)
        return QFileDialog::getSaveFileName(
            parent, "Save program",
            Q(folder + "/Program " + FormatDateTime("yyyy-mm-dd hh.mm.ss", Now()) + ".csv"), kProgramFilter);
    return QFileDialog::getOpenFileName(parent, "Open program", Q(folder), kProgramFilter);
}

QPushButton* NewButton(const char* caption, const char* name) {
    auto* b = new QPushButton(caption);
    b->setObjectName(name);
    return b;
}

}  // namespace

void AddProgramFileButtons(QWidget& window, TMixer& mixer, TAskProgramPath ask) {
    if (!ask) ask = AskWithDialog;
    // What opening the program found, for "Check program" while the program is still that one.
    auto opened = std::make_shared<TOpenedProgramCorrections>();

    auto* open = NewButton("Open program...", "ButtonOpenProgram");
    auto* save = NewButton("Save program...", "ButtonSaveProgram");
    auto* check = NewButton("Check program", "ButtonCheckProgram");
    QObject::connect(open, &QPushButton::clicked, &window, [&window, &mixer, ask, opened] {
        // Refused before the operator has looked for a file in vain.
        if (OpenProgramRefused(mixer)) return;
        const QString path = ask(&window, false);
        if (path.isEmpty()) return;
        const TProgramOpenOutcome outcome = OpenProgramFile(mixer, path.toStdString());
        if (outcome.Opened) opened->Remember(mixer.StepProgram, outcome.Corrections);
    });
    QObject::connect(save, &QPushButton::clicked, &window, [&window, &mixer, ask] {
        const QString path = ask(&window, true);
        if (!path.isEmpty()) SaveProgramFile(mixer, path.toStdString(), Now());
    });
    QObject::connect(check, &QPushButton::clicked, &window, [&mixer, opened] {
        ShowProgramCheck(mixer, Now(), opened->For(mixer.StepProgram));
    });

    // Open and save below the segment list, in its group.
    auto* group = window.findChild<QGroupBox*>(Q(mixer.Form.GroupBox8.Name));
    auto* column = group ? qobject_cast<QBoxLayout*>(group->layout()) : nullptr;
    if (column) {
        auto* row = new QHBoxLayout;
        row->addWidget(open);
        row->addWidget(save);
        row->addStretch(1);
        column->addLayout(row);
    } else {
        delete open;
        delete save;
    }

    // Check beside Start and Stop.
    auto* stop = window.findChild<QPushButton*>(Q(mixer.Form.ButtonStop.Name));
    QHBoxLayout* runRow = nullptr;
    if (stop && stop->parentWidget())
        for (QHBoxLayout* row : stop->parentWidget()->findChildren<QHBoxLayout*>())
            if (row->indexOf(stop) >= 0) runRow = row;
    if (runRow)
        runRow->insertWidget(runRow->indexOf(stop) + 1, check);
    else
        delete check;
}

}  // namespace moirex::ui
