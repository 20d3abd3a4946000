#pragma once
// The seven pages of the window, each built from the Form's controls.

#include <QWidget>

namespace moirex {
class TForm1;
}

namespace moirex::ui {

class TFlowGraphView;
class TLedDisplayWidget;

QWidget* SetupPage(TForm1& form);         // 0 "Setup"
QWidget* PumpAndFluidPage(TForm1& form);  // 1 "Pump && fluid details"
QWidget* DebugPage(TForm1& form);         // 2 "Debug && Development"
QWidget* DesignPage(TForm1& form);        // 3 "Mixture design && Operation"
TFlowGraphView* FlowsPage(TForm1& form);  // 4 "Flows"
QWidget* LogPage(TForm1& form);           // 5 "Log"
QWidget* PumpInfoPage(TForm1& form);      // 6 "Pump info"

}  // namespace moirex::ui
