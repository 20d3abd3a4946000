#pragma once
// Keeps each Qt widget and its control of the Form in step, both ways:
// - operator input on the widget sets the control's value, then raises the control's event
//   (click, double click, key release, change), through the control so that its input gate
//   (enabled, page, window) decides as it does for a test;
// - a change the logic makes to the control is shown by the widget.
// A change that came from the widget is not written back to it (no echo), and nothing is added:
// every event goes to the handler that the Form binding put on the control.
//
// The widgets may die before the controls (the Form outlives the window); the controls' observers
// then do nothing.

#include <QString>
#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTabWidget;
class QTreeWidget;
class QWidget;

namespace moirex {
class TButton;
class TCheckBox;
class TComboBox;
class TControl;
class TEdit;
class TGroupBox;
class TIntegerEdit;
class TLabel;
class TLEDDisplay;
class TListBox;
class TMemo;
class TPageControl;
class TRealEdit;
class TStatusBar;
class TTabbedListBox;
class TTrackBar;
}  // namespace moirex

namespace moirex::ui {

class TLedDisplayWidget;

// A caption as the window shows it: "&&" reads "&", a single "&" marks a mnemonic and is not shown.
QString ShownCaption(const std::string& caption);
// The key code a key-release event carries (Escape 27, Enter 13, letters and digits as their
// upper-case character, arrows 37-40 …; 0 for a key the logic never asks about).
int KeyCode(int qtKey);

void Mirror(TLabel& control, QLabel* widget);
void Mirror(TGroupBox& control, QGroupBox* widget);
void Mirror(TButton& control, QPushButton* widget);
void Mirror(TCheckBox& control, QCheckBox* widget);
void Mirror(TEdit& control, QLineEdit* widget);
void Mirror(TIntegerEdit& control, QLineEdit* widget);
void Mirror(TRealEdit& control, QLineEdit* widget);
void Mirror(TListBox& control, QListWidget* widget);
void Mirror(TComboBox& control, QComboBox* widget);
void Mirror(TTabbedListBox& control, QTreeWidget* widget);
void Mirror(TMemo& control, QPlainTextEdit* widget);
void Mirror(TTrackBar& control, QSlider* widget);
void Mirror(TStatusBar& control, const std::array<QLabel*, 5>& panels);
void Mirror(TLEDDisplay& control, TLedDisplayWidget* widget);
void Mirror(TPageControl& control, QTabWidget* widget);

}  // namespace moirex::ui
