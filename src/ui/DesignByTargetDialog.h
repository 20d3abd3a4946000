#pragma once
// "Design by target...": a small dialog on the design page over the model's design by target. It
// shows what the page doses (the gases of MFC A and MFC B, the pump's fluid, the outlet
// conditions), takes the total flow, one component's ppm and the RH or the fluid's ppm, shows the
// proposal with each target asked and achieved, and "Apply" types the flows into the design page
// as the operator would. The dialog computes nothing itself.

#include <QDialog>

#include "model/DesignByTarget.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace moirex {
struct TMixer;
}

namespace moirex::ui {

class TDesignByTargetDialog final : public QDialog {
public:
    TDesignByTargetDialog(TMixer& mixer, QWidget* parent = nullptr);

    // The proposal for what the fields ask now, shown in the result pane; "Apply" is enabled only
    // for a proposal of these very fields.
    void Calculate();
    // The shown proposal typed into the design page; the dialog closes.
    void Apply();

private:
    // What the fields ask; false with the reason when a field holds no usable number.
    bool ReadTarget(TDesignTarget& target, QString& error) const;
    void FieldsChanged();

    TMixer& mixer_;
    QComboBox* totalUnit_;
    QLineEdit* total_;
    QComboBox* component_;
    QLineEdit* componentPpm_;
    QComboBox* fluidKind_;
    QLineEdit* fluidValue_;
    QPlainTextEdit* result_;
    QPushButton* apply_;
    TDesignResult proposal_;
    bool proposalCurrent_ = false;
};

// The "Design by target..." button below "Add or Save Segment" on the design page of `window`; it
// opens the dialog over `mixer`.
void AddDesignByTargetButton(QWidget& window, TMixer& mixer);

}  // namespace moirex::ui
