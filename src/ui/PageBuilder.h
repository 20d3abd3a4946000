#pragma once
// Small helpers that make the widget of a control, mirror it (Mirror.h) and name it after the
// control (QObject::objectName), so that tests and screenshots find each widget by the name the
// logic uses.

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>

#include "form/Controls.h"

namespace moirex::ui::build {

QPushButton* Button(TButton& control);
QLabel* Label(TLabel& control);
QLabel* Text(const QString& text);  // a fixed label that only names a neighbouring field
QGroupBox* Group(TGroupBox& control);
QCheckBox* Check(TCheckBox& control);
QLineEdit* Edit(TEdit& control, int width = 0);
QLineEdit* Edit(TIntegerEdit& control, int width = 90);
QLineEdit* Edit(TRealEdit& control, int width = 130);
QListWidget* List(TListBox& control);
// A list of port names: a name wider than the list shows its end ("…by-id/usb-FTDI…-port0"),
// where names of the same folder differ, and the whole name as a tip.
QListWidget* PortList(TListBox& control);
QComboBox* Combo(TComboBox& control);
QTreeWidget* TabbedList(TTabbedListBox& control);
// A text pane in the fixed-pitch font, read-only for the operator.
QPlainTextEdit* Pane(TMemo& control, bool border);
QSlider* Track(TTrackBar& control);

// "label [field] unit" as one row.
QHBoxLayout* Row(const QString& label, QWidget* field, const QString& unit = {}, int labelWidth = 0);
// A group's inner layout.
QVBoxLayout* Column(QGroupBox* group);

}  // namespace moirex::ui::build
